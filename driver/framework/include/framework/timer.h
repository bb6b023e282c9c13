// A kernel timer that remembers the DPC it was last set with, so that
// cancelling also takes back an expiry DPC that is queued but has not run.
#pragma once

#include <wdm.h>

namespace framework {

class Timer {
  public:
    Timer() { KeInitializeTimer(&timer_); }
    Timer(const Timer&) = delete;
    Timer& operator=(const Timer&) = delete;

    // dueTime as KeSetTimerEx: negative relative, positive absolute (100 ns);
    // period in milliseconds, 0 for one expiry.
    void Set(LARGE_INTEGER dueTime, LONG period, PKDPC dpc);
    // Whether the timer was set.
    bool Cancel();
    // Whether the timer has expired since it was last set.
    [[nodiscard]] bool HasExpired() { return KeReadStateTimer(&timer_) != FALSE; }

  private:
    KTIMER timer_;
    PKDPC dpc_ = nullptr;
};

}  // namespace framework
