// Pool allocation with the driver's tag. Raising allocations (string and array
// storage) raise STATUS_INSUFFICIENT_RESOURCES instead of returning NULL.
#pragma once

#include <wdm.h>

namespace framework {

// Tags are written so that they read "KRZL" in memory.
constexpr ULONG MakePoolTag(const char (&text)[5]) {
    return static_cast<ULONG>(static_cast<UCHAR>(text[0])) |
           static_cast<ULONG>(static_cast<UCHAR>(text[1])) << 8 |
           static_cast<ULONG>(static_cast<UCHAR>(text[2])) << 16 |
           static_cast<ULONG>(static_cast<UCHAR>(text[3])) << 24;
}
constexpr ULONG kPoolTag = MakePoolTag("KRZL");

// NULL on failure (unless the type carries POOL_RAISE_IF_ALLOCATION_FAILURE).
[[nodiscard]] PVOID PoolAllocate(SIZE_T bytes);  // non-paged
[[nodiscard]] PVOID PoolAllocate(POOL_TYPE poolType, SIZE_T bytes);
[[nodiscard]] PVOID PoolAllocateZeroed(SIZE_T bytes);  // non-paged
// Non-paged; raises STATUS_INSUFFICIENT_RESOURCES on failure.
[[nodiscard]] PVOID PoolAllocateRaising(SIZE_T bytes);
void PoolFree(PVOID block);  // accepts NULL

}  // namespace framework
