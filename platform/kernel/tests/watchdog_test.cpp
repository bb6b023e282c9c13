// The watchdog: a system that is idle while a test waits on it, with nothing
// due, is a deadlock; a timer re-armed for a passed time within one tick is a
// busy loop. Both are reported instead of hanging.
#include <gtest/gtest.h>

#include <atomic>

#include "sim/system.h"
#include "sim/verifier.h"
#include "wdm.h"

namespace {

class WatchdogTest : public ::testing::Test {
  protected:
    sim::System system;
};

TEST_F(WatchdogTest, WaitThatNothingCanSatisfyIsReportedAsDeadlockNamingTheWaiter) {
    sim::SetAutoAdvance(true);
    KEVENT neverSet;
    KeInitializeEvent(&neverSet, NotificationEvent, FALSE);
    sim::BugCheckCapture capture;
    // The handler runs outside the kernel's locks; it ends the wait so the test
    // can go on.
    capture.OnReport([&](const sim::BugCheckReport&) { KeSetEvent(&neverSet, 0, FALSE); });
    EXPECT_EQ(KeWaitForSingleObject(&neverSet, Executive, KernelMode, FALSE, nullptr),
              STATUS_SUCCESS);
    ASSERT_EQ(capture.Count(sim::Rule::Deadlock), 1u);
    const std::string report = capture.Reports().front().Format();
    EXPECT_NE(report.find("waits for notification event"), std::string::npos) << report;
}

TEST_F(WatchdogTest, WorkItemWaitingForAnEventNobodySetsIsADeadlockOfItsWaiter) {
    KEVENT neverSet;
    KEVENT workDone;
    KeInitializeEvent(&neverSet, NotificationEvent, FALSE);
    KeInitializeEvent(&workDone, NotificationEvent, FALSE);
    struct Context {
        KEVENT* neverSet;
        KEVENT* workDone;
        WORK_QUEUE_ITEM item;
    } context{&neverSet, &workDone, {}};
    ExInitializeWorkItem(
        &context.item,
        [](PVOID parameter) {
            auto* c = static_cast<Context*>(parameter);
            KeWaitForSingleObject(c->neverSet, Executive, KernelMode, FALSE, nullptr);
            KeSetEvent(c->workDone, 0, FALSE);
        },
        &context);
    sim::BugCheckCapture capture;
    capture.OnReport([&](const sim::BugCheckReport&) { KeSetEvent(&neverSet, 0, FALSE); });
    ExQueueWorkItem(&context.item, DelayedWorkQueue);
    KeWaitForSingleObject(&workDone, Executive, KernelMode, FALSE, nullptr);
    ASSERT_EQ(capture.Count(sim::Rule::Deadlock), 1u);
    const std::string report = capture.Reports().front().Format();
    EXPECT_NE(report.find("system worker"), std::string::npos) << report;
}

// A DPC that waits "until now is past due" by re-arming its timer for the due
// time: within one tick time never moves, so the loop cannot end by itself.
struct BusyLoop {
    KTIMER timer;
    KDPC dpc;
    LARGE_INTEGER due;
    std::atomic<int> expiries{0};
    std::atomic<bool> stop{false};
    static VOID Expired(PKDPC, PVOID context, PVOID, PVOID) {
        auto* self = static_cast<BusyLoop*>(context);
        ++self->expiries;
        LARGE_INTEGER now;
        KeQuerySystemTime(&now);
        if (!self->stop && now.QuadPart <= self->due.QuadPart) {
            KeSetTimer(&self->timer, self->due, &self->dpc);
        }
    }
};

TEST_F(WatchdogTest, TimerReArmedWithoutTimeMovingIsNamedAsABusyLoop) {
    sim::SetAutoAdvance(true);
    BusyLoop loop;
    KeInitializeTimer(&loop.timer);
    KeInitializeDpc(&loop.dpc, BusyLoop::Expired, &loop);
    KeQuerySystemTime(&loop.due);
    sim::BugCheckCapture capture;
    capture.OnReport([&](const sim::BugCheckReport&) { loop.stop = true; });
    KeSetTimer(&loop.timer, loop.due, &loop.dpc);
    sim::Settle();
    EXPECT_EQ(capture.Count(sim::Rule::BusyTimerLoop), 1u);
    EXPECT_GT(loop.expiries.load(), 1000);
    KeCancelTimer(&loop.timer);
}

}  // namespace
