// The clock, settling and the per-test system scope.
#include "sim/system.h"

#include "internal/dispatcher.h"
#include "internal/io_manager.h"
#include "internal/irp_log.h"
#include "internal/pool.h"
#include "internal/system_config.h"
#include "internal/verifier.h"
#include "sim/faults.h"
#include "sim/registry.h"
#include "sim/verifier.h"

namespace sim {

using kernel::internal::CurrentThread;
using kernel::internal::Dispatcher;

ULONGLONG Now() {
    auto& dispatcher = Dispatcher::Instance();
    CurrentThread();
    std::lock_guard lock(dispatcher.mutex);
    return dispatcher.TickTime();
}

void AdvanceTime(ULONGLONG hundredNanoseconds) {
    auto& dispatcher = Dispatcher::Instance();
    CurrentThread();
    ULONGLONG target;
    {
        std::lock_guard lock(dispatcher.mutex);
        target = dispatcher.interruptTime + hundredNanoseconds;
    }
    dispatcher.Settle();
    for (;;) {
        bool done;
        {
            std::unique_lock lock(dispatcher.mutex);
            ULONGLONG step = target;
            if (auto due = dispatcher.NextDue()) {
                step = std::min(step, dispatcher.NextTickAtOrAfter(*due));
            }
            dispatcher.SetClock(step);
            done = dispatcher.interruptTime >= target;
            dispatcher.DeliverPendingReport(lock);
        }
        dispatcher.Settle();
        if (done) return;
    }
}

void SetAutoAdvance(bool enable) {
    auto& dispatcher = Dispatcher::Instance();
    CurrentThread();
    std::lock_guard lock(dispatcher.mutex);
    dispatcher.autoAdvance = enable;
}

void SetTimeIncrement(ULONG hundredNanoseconds) {
    if (hundredNanoseconds == 0) return;
    auto& dispatcher = Dispatcher::Instance();
    CurrentThread();
    std::lock_guard lock(dispatcher.mutex);
    dispatcher.timeIncrement = hundredNanoseconds;
}

void Settle() {
    Dispatcher::Instance().Settle();
}

WaitingForSystem::WaitingForSystem() {
    KTHREAD* thread = CurrentThread();
    auto& dispatcher = Dispatcher::Instance();
    std::unique_lock lock(dispatcher.mutex);
    thread->blocked = true;
    thread->satisfied = false;
    thread->waitWhat = "test code (WaitingForSystem)";
    thread->waitingOutside = true;
    --dispatcher.running;
    if (dispatcher.running == 0) dispatcher.OnIdle();
    dispatcher.DeliverPendingReport(lock);
}

WaitingForSystem::~WaitingForSystem() {
    KTHREAD* thread = CurrentThread();
    auto& dispatcher = Dispatcher::Instance();
    std::lock_guard lock(dispatcher.mutex);
    thread->waitWhat.clear();
    thread->waitingOutside = false;
    if (thread->blocked) {
        thread->blocked = false;
        ++dispatcher.running;
        dispatcher.deadlockReported = false;
    }
}

std::thread StartThread(std::function<void()> body) {
    KTHREAD* thread = kernel::internal::PrepareApplicationThread();
    return std::thread([thread, body = std::move(body)] {
        kernel::internal::AdoptApplicationThread(thread);
        body();
    });
}

void SetWdmVersion(UCHAR major, UCHAR minor) {
    kernel::internal::SetWdmVersion(major, minor);
}
void SetSystemRoutineAvailable(std::u16string_view name, bool available) {
    kernel::internal::SetSystemRoutineAvailable(name, available);
}
void SetSystemSize(MM_SYSTEMSIZE size) {
    kernel::internal::SetSystemSize(size);
}

System::System() {
    auto& dispatcher = Dispatcher::Instance();
    // A test that failed half-way may have left its thread raised or holding locks.
    KTHREAD* thread = CurrentThread();
    thread->irql = PASSIVE_LEVEL;
    thread->heldLocks.clear();
    thread->criticalRegion = 0;
    Settle();
    {
        std::lock_guard lock(dispatcher.mutex);
        dispatcher.autoAdvance = false;
        dispatcher.timeIncrement = 156250;
        if (dispatcher.timerQueue.empty()) dispatcher.interruptTime = 0;
        dispatcher.immediateExpiries = 0;
        dispatcher.busyLoopReported = false;
        dispatcher.deadlockReported = false;
    }
    ClearFaults();
    kernel::internal::ResetSystemConfiguration();
    kernel::internal::IrpLog::Instance().Clear();
    kernel::internal::IrpLog::Instance().Enable(false);
    kernel::internal::ForgetAllLockOrders();
}

System::~System() {
    auto& dispatcher = Dispatcher::Instance();
    // Leftovers are reported with the clock stopped: a timer still set is a leak,
    // not something to run.
    {
        std::lock_guard lock(dispatcher.mutex);
        dispatcher.autoAdvance = false;
    }
    Settle();
    VerifyNoLeaks();
    // Handles still open were reported above; the next test starts with an
    // empty registry and none.
    registry::Reset();
    {
        std::lock_guard lock(dispatcher.mutex);
        while (!dispatcher.timerQueue.empty()) {
            dispatcher.RemoveTimer(dispatcher.timerQueue.begin()->second);
        }
        for (auto& queue : dispatcher.dpcQueues) {
            while (!queue.empty()) dispatcher.RemoveDpc(queue.front());
        }
    }
    kernel::internal::ForgetWorkItems();
    kernel::internal::ForgetIrps();
    kernel::internal::ForgetDevices();
    kernel::internal::ForgetNamespace();
    kernel::internal::ForgetErrorLog();
    kernel::internal::ReleaseAllPool();
    ClearFaults();
    kernel::internal::ResetSystemConfiguration();
    kernel::internal::ForgetAllLockOrders();
}

}  // namespace sim
