// String storage in tagged pool, so that a string the caller never frees is
// reported as leaked pool at test end.
#include "rtl_string_storage.h"

#include <new>

namespace kernel::rtl {

// Switch to the kernel pool here once it exists.
void* AllocateStringBuffer(SIZE_T bytes) {
    return ::operator new(bytes, std::nothrow);
}

void FreeStringBuffer(void* buffer) {
    ::operator delete(buffer);
}

}  // namespace kernel::rtl
