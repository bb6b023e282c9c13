// The module table of the simulated loader, shared with CoCreateInstance.
#pragma once

#include <vector>

#include "win32/kernel32.h"

namespace win32sim::detail {

// The modules loaded now, in load order.
std::vector<HMODULE> LoadedModules();

}  // namespace win32sim::detail
