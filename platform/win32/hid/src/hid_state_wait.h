// The blocking wait of the simulated HID calls (see BlockUntil).
#pragma once

#include <chrono>

namespace win32sim::detail {

// A real-time arrival that takes longer than this is taken as a deadlock.
inline constexpr std::chrono::seconds kRealTimeArrivalLimit{10};

template <typename Done>
bool BlockUntil(HidState& state, std::unique_lock<std::mutex>& lock, DeviceId device, Done done) {
    for (;;) {
        PumpReads(state);
        if (done()) return true;
        if (auto next = NextArrival(state, device)) {
            state.now = *next;
            continue;
        }
        if (!state.realTimeArrivals) {
            ++state.deadlocks;
            return false;
        }
        ++state.blockedThreads;
        state.changed.notify_all();
        // `done` may consume what it waits for, so it is called once per wake.
        bool satisfied = false;
        bool woke = state.changed.wait_for(lock, kRealTimeArrivalLimit, [&] {
            PumpReads(state);
            satisfied = done();
            return satisfied || NextArrival(state, device).has_value();
        });
        --state.blockedThreads;
        if (!woke) {
            ++state.deadlocks;
            return false;
        }
        if (satisfied) return true;
    }
}

}  // namespace win32sim::detail
