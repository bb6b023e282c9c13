// Fault injection state: the rules, their counters and the seeded generator.
#include <map>
#include <mutex>
#include <random>
#include <vector>

#include "internal/faults.h"

namespace kernel::internal {
namespace {

struct ActiveRule {
    sim::FaultRule rule;
    std::uint64_t matched = 0;
};

struct FaultState {
    std::mutex mutex;
    std::vector<ActiveRule> rules;
    std::mt19937_64 random{0};
    std::map<std::pair<sim::FaultSite, ULONG>, std::uint64_t> calls;
    std::uint64_t injected = 0;
};

FaultState& State() {
    static FaultState state;
    return state;
}

}  // namespace

bool ShouldFail(sim::FaultSite site, ULONG tag) {
    auto& state = State();
    std::lock_guard guard(state.mutex);
    ++state.calls[{site, tag}];
    bool fail = false;
    for (auto& active : state.rules) {
        const auto& rule = active.rule;
        if (rule.site != site || (rule.tag != 0 && rule.tag != tag)) continue;
        const std::uint64_t call = ++active.matched;
        if (rule.nth != 0 && call >= rule.nth && call < rule.nth + rule.count) fail = true;
        if (rule.probability > 0.0 &&
            std::uniform_real_distribution<double>(0.0, 1.0)(state.random) < rule.probability) {
            fail = true;
        }
    }
    if (fail) ++state.injected;
    return fail;
}

}  // namespace kernel::internal

namespace sim {

void AddFault(const FaultRule& rule) {
    auto& state = kernel::internal::State();
    std::lock_guard guard(state.mutex);
    state.rules.push_back({rule, 0});
}

void SeedFaults(std::uint64_t seed) {
    auto& state = kernel::internal::State();
    std::lock_guard guard(state.mutex);
    state.random.seed(seed);
}

void ClearFaults() {
    auto& state = kernel::internal::State();
    std::lock_guard guard(state.mutex);
    state.rules.clear();
    state.calls.clear();
    state.injected = 0;
    state.random.seed(0);
}

std::uint64_t AllocationCalls(FaultSite site, ULONG tag) {
    auto& state = kernel::internal::State();
    std::lock_guard guard(state.mutex);
    std::uint64_t total = 0;
    for (const auto& [key, count] : state.calls) {
        if (key.first == site && (tag == 0 || key.second == tag)) total += count;
    }
    return total;
}

std::uint64_t InjectedFailures() {
    auto& state = kernel::internal::State();
    std::lock_guard guard(state.mutex);
    return state.injected;
}

}  // namespace sim
