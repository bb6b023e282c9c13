// String storage in paged pool, so that a string the caller never frees is
// reported as leaked pool at test end. Freeing takes any pool block, as strings
// the I/O manager allocates (device interface names) are freed here too.
#include "rtl_string_storage.h"

#include "kernel/ex.h"

namespace kernel::rtl {
namespace {

constexpr ULONG kStringTag = 'S' | 't' << 8 | 'r' << 16 | 'g' << 24;  // "Strg"

}  // namespace

void* AllocateStringBuffer(SIZE_T bytes) {
    return ExAllocatePoolWithTag(PagedPool, bytes, kStringTag);
}

void FreeStringBuffer(void* buffer) {
    if (buffer != nullptr) ExFreePool(buffer);
}

}  // namespace kernel::rtl
