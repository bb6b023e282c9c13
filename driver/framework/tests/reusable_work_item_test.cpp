// A reusable work item: no Queue() goes without a run that starts after it,
// there are never more runs than Queue() calls, and shutdown waits for a run in
// progress.
#include <atomic>

#include "framework/reusable_work_item.h"
#include "framework_fixture.h"

namespace framework {
namespace {

using ReusableWorkItemTest = testing::FrameworkTest;

struct Counter {
    static void Run(PVOID context) {
        auto* self = static_cast<Counter*>(context);
        self->seen = self->ticket.load();
        ++self->runs;
        if (self->requeueOnce.exchange(false)) self->Queue();
        if (self->block) {
            (void)KeSetEvent(&self->entered, IO_NO_INCREMENT, FALSE);
            (void)KeWaitForSingleObject(&self->release, Executive, KernelMode, FALSE, nullptr);
        }
    }
    Counter() {
        KeInitializeEvent(&entered, NotificationEvent, FALSE);
        KeInitializeEvent(&release, NotificationEvent, FALSE);
    }
    void Queue() {
        ++ticket;
        item->Queue();
    }
    std::atomic<int> ticket{0};  // Queue() calls so far
    std::atomic<int> seen{0};    // the ticket the latest run saw at its start
    std::atomic<int> runs{0};
    std::atomic<bool> requeueOnce{false};
    std::atomic<bool> block{false};
    ReusableWorkItem* item = nullptr;
    KEVENT entered;
    KEVENT release;
};

TEST_F(ReusableWorkItemTest, EveryQueueIsFollowedByARun) {
    Counter counter;
    counter.block = true;
    ReusableWorkItem item;
    counter.item = &item;
    ASSERT_TRUE(item.Allocate(Device(), &Counter::Run, &counter));
    counter.Queue();
    (void)KeWaitForSingleObject(&counter.entered, Executive, KernelMode, FALSE, nullptr);
    // Queued while the first run blocks (and possibly while later ones run).
    for (int i = 0; i < 3; ++i) counter.Queue();
    (void)KeSetEvent(&counter.release, IO_NO_INCREMENT, FALSE);
    sim::Settle();
    EXPECT_EQ(counter.seen.load(), counter.ticket.load());
    EXPECT_GE(counter.runs.load(), 2);
    EXPECT_LE(counter.runs.load(), counter.ticket.load());

    counter.block = false;
    counter.requeueOnce = true;  // a Queue() from inside the run
    counter.Queue();
    sim::Settle();
    EXPECT_EQ(counter.seen.load(), counter.ticket.load());
    const int runs = counter.runs.load();
    item.Shutdown();
    item.Queue();  // after shutdown: nothing
    sim::Settle();
    EXPECT_EQ(counter.runs.load(), runs);
}

TEST_F(ReusableWorkItemTest, ShutdownWaitsForTheRunningRoutine) {
    Counter counter;
    counter.block = true;
    auto item = std::make_unique<ReusableWorkItem>();
    counter.item = item.get();
    ASSERT_TRUE(item->Allocate(Device(), &Counter::Run, &counter));
    item->Queue();
    (void)KeWaitForSingleObject(&counter.entered, Executive, KernelMode, FALSE, nullptr);
    std::atomic<bool> shutDown{false};
    std::thread closer = sim::StartThread([&] {
        item->Shutdown();
        shutDown = true;
    });
    sim::Settle();
    EXPECT_FALSE(shutDown.load());
    (void)KeSetEvent(&counter.release, IO_NO_INCREMENT, FALSE);
    sim::Join(closer);
    EXPECT_TRUE(shutDown.load());
    EXPECT_EQ(counter.runs.load(), 1);
}

}  // namespace
}  // namespace framework
