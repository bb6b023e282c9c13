// Reset of the simulated registry (see registry.cpp).
#pragma once

namespace win32sim::detail {

void ClearRegistry();

}  // namespace win32sim::detail
