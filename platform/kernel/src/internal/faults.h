// The fault sites consulted by the allocating routines.
#pragma once

#include "sim/faults.h"

namespace kernel::internal {

// Counts the call and answers whether it must fail.
[[nodiscard]] bool ShouldFail(sim::FaultSite site, ULONG tag = 0);

}  // namespace kernel::internal
