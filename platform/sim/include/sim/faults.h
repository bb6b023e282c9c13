// Fault injection: make pool, IRP or work-item allocations fail, by pool tag, by
// the N-th matching call, or at random from a seed (a failing seed replays
// exactly). All rules live until ClearFaults (sim::System clears them).
#pragma once

#include <cstdint>

#include "kernel/types.h"

namespace sim {

enum class FaultSite { Pool, Irp, WorkItem };

struct FaultRule {
    FaultSite site = FaultSite::Pool;
    ULONG tag = 0;             // pool only; 0 matches every tag
    std::uint64_t nth = 0;     // fail from the nth matching call (1-based); 0: not by count
    std::uint64_t count = 1;   // how many calls fail from the nth on
    double probability = 0.0;  // chance of failing each matching call
};

void AddFault(const FaultRule& rule);
void SeedFaults(std::uint64_t seed);
void ClearFaults();
// Allocation calls at a site (matching `tag` for pool, 0 = all) since ClearFaults:
// the number of allocation points a fault sweep walks through.
[[nodiscard]] std::uint64_t AllocationCalls(FaultSite site, ULONG tag = 0);
// Allocations that failed by injection since ClearFaults.
[[nodiscard]] std::uint64_t InjectedFailures();

}  // namespace sim
