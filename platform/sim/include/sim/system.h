// The simulated system as a test sees it: the virtual clock, settling, the
// per-test configuration (system version, routines, processor-independent
// sizes) and the test scope that checks for leftovers at its end.
#pragma once

#include <functional>
#include <string_view>
#include <thread>

#include "kernel/mm.h"

namespace sim {

// ---- clock ----
// Interrupt time (100-ns units since boot) of the latest clock tick.
[[nodiscard]] ULONGLONG Now();
// Moves the clock forward by `hundredNanoseconds`, one due tick at a time,
// settling the system at each step, so timers expire in order at their tick.
void AdvanceTime(ULONGLONG hundredNanoseconds);
inline void AdvanceTimeMs(ULONGLONG milliseconds) {
    AdvanceTime(milliseconds * 10000);
}
// In auto-advance mode the clock jumps to the next due timer or timed wait
// whenever the whole system is idle.
void SetAutoAdvance(bool enable);
void SetTimeIncrement(ULONG hundredNanoseconds);
// Returns once no work item, DPC or thread can run at the current time. Settling
// never moves the clock.
void Settle();

// Marks the calling application thread as waiting for the system while it waits
// on something the kernel does not see (joining a thread, say), so that the
// system counts as idle and auto-advance and the watchdog work through it.
class WaitingForSystem {
  public:
    WaitingForSystem();
    ~WaitingForSystem();
    WaitingForSystem(const WaitingForSystem&) = delete;
    WaitingForSystem& operator=(const WaitingForSystem&) = delete;
};
inline void Join(std::thread& thread) {
    WaitingForSystem waiting;
    thread.join();
}

// Starts an application thread that the system counts from this moment on, so
// the system cannot look idle before the thread has reached its first wait.
// Join it with sim::Join.
[[nodiscard]] std::thread StartThread(std::function<void()> body);

// ---- configuration (restored by System) ----
// IoIsWdmVersionAvailable answers TRUE up to this version (default 6.0).
void SetWdmVersion(UCHAR major, UCHAR minor);
// MmGetSystemRoutineAddress answers NULL for a hidden routine.
void SetSystemRoutineAvailable(std::u16string_view name, bool available);
void SetSystemSize(MM_SYSTEMSIZE size);

// One test's system. Construction restores the defaults (clock at boot when no
// timer is set, auto-advance off, no faults, empty IRP log); destruction
// settles, runs the resource rules (sim::VerifyNoLeaks) and forgets whatever
// was left so that the next test starts clean.
class System {
  public:
    System();
    ~System();
    System(const System&) = delete;
    System& operator=(const System&) = delete;
};

}  // namespace sim
