#include "framework/pool.h"

namespace framework {

PVOID PoolAllocate(SIZE_T bytes) {
    return ExAllocatePoolWithTag(NonPagedPool, bytes, kPoolTag);
}

PVOID PoolAllocate(POOL_TYPE poolType, SIZE_T bytes) {
    return ExAllocatePoolWithTag(poolType, bytes, kPoolTag);
}

PVOID PoolAllocateZeroed(SIZE_T bytes) {
    PVOID block = PoolAllocate(bytes);
    if (block != nullptr) RtlZeroMemory(block, bytes);
    return block;
}

PVOID PoolAllocateRaising(SIZE_T bytes) {
    return ExAllocatePoolWithTag(NonPagedPool | POOL_RAISE_IF_ALLOCATION_FAILURE, bytes, kPoolTag);
}

void PoolFree(PVOID block) {
    if (block != nullptr) ExFreePoolWithTag(block, kPoolTag);
}

}  // namespace framework
