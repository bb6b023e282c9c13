#include "framework/timer.h"

namespace framework {

void Timer::Set(LARGE_INTEGER dueTime, LONG period, PKDPC dpc) {
    (void)Cancel();
    dpc_ = dpc;
    (void)KeSetTimerEx(&timer_, dueTime, period, dpc);
}

bool Timer::Cancel() {
    const bool wasSet = KeCancelTimer(&timer_) != FALSE;
    if (dpc_ != nullptr) {
        (void)KeRemoveQueueDpc(dpc_);
        dpc_ = nullptr;
    }
    return wasSet;
}

}  // namespace framework
