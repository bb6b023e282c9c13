// Storage of the strings the run-time library allocates for its callers
// (RtlAnsiStringToUnicodeString and friends with allocation); the matching
// Rtl*Free* routines give it back. Paged pool, tag "Strg", as on the platform.
#pragma once

#include "kernel/types.h"

namespace kernel::rtl {

[[nodiscard]] void* AllocateStringBuffer(SIZE_T bytes);  // NULL on failure
void FreeStringBuffer(void* buffer);                     // accepts NULL

}  // namespace kernel::rtl
