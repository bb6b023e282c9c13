// Kernel timers on the virtual clock, and the clock queries.
#include "internal/dispatcher.h"
#include "internal/verifier.h"

namespace kernel::internal {

// Immediate expiries allowed within one clock tick before the watchdog calls it
// a busy loop (a timer re-armed for a time that has already passed).
constexpr std::uint64_t kImmediateExpiryLimit = 10000;

void Dispatcher::InsertTimer(KTIMER* timer, ULONGLONG due) {
    const ULONGLONG tick = TickTime();
    if (due <= tick) {
        if (immediateExpiryTick != tick) {
            immediateExpiryTick = tick;
            immediateExpiries = 0;
            busyLoopReported = false;
        }
        if (++immediateExpiries <= kImmediateExpiryLimit) {
            timer->DueTime.QuadPart = due;
            ExpireTimer(timer);
            return;
        }
        if (!busyLoopReported) {
            busyLoopReported = true;
            Violation violation{sim::Rule::BusyTimerLoop, bugcheck::MANUALLY_INITIATED_CRASH};
            violation.parameters[0] = reinterpret_cast<ULONG_PTR>(timer);
            violation.parameters[1] = immediateExpiries;
            violation.routine = "KeSetTimerEx";
            violation.message =
                "a timer was set " + std::to_string(immediateExpiries) +
                " times for a time already passed within one clock tick; time only moves "
                "in ticks, so this loop cannot end. Its expiries now wait for the next tick.";
            pendingReport = MakeReport(violation);
        }
        due = tick + 1;  // the next tick
    }
    timer->DueTime.QuadPart = due;
    timer->Header.Inserted = 1;
    const TimerKey key{due, nextTimerSequence++};
    timerQueue.emplace(key, timer);
    timerKeys[timer] = key;
}

bool Dispatcher::RemoveTimer(const KTIMER* timer) {
    auto found = timerKeys.find(timer);
    if (found == timerKeys.end()) return false;
    timerQueue.erase(found->second);
    timerKeys.erase(found);
    const_cast<KTIMER*>(timer)->Header.Inserted = 0;
    return true;
}

void Dispatcher::ExpireTimer(KTIMER* timer) {
    timer->Header.Inserted = 0;
    timer->Header.SignalState = 1;
    SignalObject(&timer->Header);
    const ULONGLONG expiry = timer->DueTime.QuadPart;
    if (timer->Period > 0) {
        const ULONGLONG period = static_cast<ULONGLONG>(timer->Period) * 10000;
        ULONGLONG next = expiry + period;
        if (next <= TickTime()) next = TickTime() + period;
        InsertTimer(timer, next);
    }
    if (timer->Dpc != nullptr) {
        const ULONGLONG systemTime = kBootSystemTime + TickTime();
        // Timer DPCs run on processor 0, so timers due together run in order.
        if (QueueDpc(timer->Dpc, reinterpret_cast<PVOID>(systemTime & 0xffffffff),
                     reinterpret_cast<PVOID>(systemTime >> 32), 0)) {
            dpcQueuedByTimer[timer->Dpc] = timer;
        }
    }
}

}  // namespace kernel::internal

using kernel::internal::CurrentThread;
using kernel::internal::Dispatcher;

void KeInitializeTimer(PKTIMER timer) {
    KeInitializeTimerEx(timer, NotificationTimer);
}

void KeInitializeTimerEx(PKTIMER timer, TIMER_TYPE type) {
    auto& dispatcher = Dispatcher::Instance();
    CurrentThread();
    std::lock_guard lock(dispatcher.mutex);
    dispatcher.RemoveTimer(timer);
    timer->Header.Type = type == SynchronizationTimer ? 9 : 8;
    timer->Header.Size = sizeof(KTIMER);
    timer->Header.SignalState = 0;
    timer->Header.Inserted = 0;
    InitializeListHead(&timer->Header.WaitListHead);
    timer->DueTime.QuadPart = 0;
    timer->Dpc = nullptr;
    timer->Period = 0;
}

BOOLEAN KeSetTimer(PKTIMER timer, LARGE_INTEGER dueTime, PKDPC dpc) {
    return KeSetTimerEx(timer, dueTime, 0, dpc);
}

BOOLEAN KeSetTimerEx(PKTIMER timer, LARGE_INTEGER dueTime, LONG period, PKDPC dpc) {
    kernel::internal::RequireIrqlAtMost(DISPATCH_LEVEL, "KeSetTimerEx");
    auto& dispatcher = Dispatcher::Instance();
    CurrentThread();
    std::unique_lock lock(dispatcher.mutex);
    const bool wasSet = dispatcher.RemoveTimer(timer);
    timer->Dpc = dpc;
    timer->Period = period < 0 ? 0 : period;
    timer->Header.SignalState = 0;
    ULONGLONG due;
    if (dueTime.QuadPart < 0) {
        due = dispatcher.interruptTime + static_cast<ULONGLONG>(-dueTime.QuadPart);
    } else {
        const auto absolute = static_cast<ULONGLONG>(dueTime.QuadPart);
        due = absolute > kernel::internal::kBootSystemTime
                  ? absolute - kernel::internal::kBootSystemTime
                  : 0;
    }
    dispatcher.InsertTimer(timer, due);
    dispatcher.DeliverPendingReport(lock);
    return wasSet ? TRUE : FALSE;
}

BOOLEAN KeCancelTimer(PKTIMER timer) {
    auto& dispatcher = Dispatcher::Instance();
    CurrentThread();
    std::lock_guard lock(dispatcher.mutex);
    bool wasSet = dispatcher.RemoveTimer(timer);
    if (timer->Dpc != nullptr) {
        auto queued = dispatcher.dpcQueuedByTimer.find(timer->Dpc);
        if (queued != dispatcher.dpcQueuedByTimer.end() && queued->second == timer) {
            // The expiry's DPC is taken back too; the timer then counts as cancelled
            // while set, as its expiry has no effect left.
            dispatcher.RemoveDpc(timer->Dpc);
            wasSet = true;
        }
    }
    return wasSet ? TRUE : FALSE;
}

BOOLEAN KeReadStateTimer(PKTIMER timer) {
    auto& dispatcher = Dispatcher::Instance();
    CurrentThread();
    std::lock_guard lock(dispatcher.mutex);
    return timer->Header.SignalState > 0 ? TRUE : FALSE;
}

void KeQuerySystemTime(PLARGE_INTEGER currentTime) {
    auto& dispatcher = Dispatcher::Instance();
    CurrentThread();
    std::lock_guard lock(dispatcher.mutex);
    currentTime->QuadPart =
        static_cast<LONGLONG>(kernel::internal::kBootSystemTime + dispatcher.TickTime());
}

void KeQueryTickCount(PLARGE_INTEGER tickCount) {
    auto& dispatcher = Dispatcher::Instance();
    CurrentThread();
    std::lock_guard lock(dispatcher.mutex);
    tickCount->QuadPart = static_cast<LONGLONG>(dispatcher.TickTime() / dispatcher.timeIncrement);
}

ULONGLONG KeQueryInterruptTime() {
    auto& dispatcher = Dispatcher::Instance();
    CurrentThread();
    std::lock_guard lock(dispatcher.mutex);
    return dispatcher.TickTime();
}

ULONG KeQueryTimeIncrement() {
    auto& dispatcher = Dispatcher::Instance();
    CurrentThread();
    std::lock_guard lock(dispatcher.mutex);
    return dispatcher.timeIncrement;
}

void KeStallExecutionProcessor(ULONG) {}
