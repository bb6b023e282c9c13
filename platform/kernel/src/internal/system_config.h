// Per-test configuration of the system queries.
#pragma once

#include <string_view>

#include "kernel/mm.h"

namespace kernel::internal {

void SetWdmVersion(UCHAR major, UCHAR minor);
void SetSystemRoutineAvailable(std::u16string_view name, bool available);
void SetSystemSize(MM_SYSTEMSIZE size);
// Services outside this library (the registry, say) add their routines here so
// that MmGetSystemRoutineAddress finds them.
void RegisterSystemRoutine(std::u16string_view name, void* address);
void ResetSystemConfiguration();

}  // namespace kernel::internal
