// The driver-wide recursive mutex (lookup and creation of persistent ports).
#pragma once

#include "framework/recursive_mutex.h"

namespace framework {

// Built anew by the entry point.
void InitializeGlobalMutex();
[[nodiscard]] RecursiveMutex& GlobalMutex();

}  // namespace framework
