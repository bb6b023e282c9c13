// A reusable work item: queueing while queued runs it once, queueing while it
// runs runs it again, and shutdown waits for a run in progress.
#include <atomic>

#include "framework/reusable_work_item.h"
#include "framework_fixture.h"

namespace framework {
namespace {

using ReusableWorkItemTest = testing::FrameworkTest;

struct Counter {
    static void Run(PVOID context) {
        auto* self = static_cast<Counter*>(context);
        ++self->runs;
        if (self->requeueOnce.exchange(false)) self->item->Queue();
        if (self->block) {
            (void)KeSetEvent(&self->entered, IO_NO_INCREMENT, FALSE);
            (void)KeWaitForSingleObject(&self->release, Executive, KernelMode, FALSE, nullptr);
        }
    }
    Counter() {
        KeInitializeEvent(&entered, NotificationEvent, FALSE);
        KeInitializeEvent(&release, NotificationEvent, FALSE);
    }
    std::atomic<int> runs{0};
    std::atomic<bool> requeueOnce{false};
    std::atomic<bool> block{false};
    ReusableWorkItem* item = nullptr;
    KEVENT entered;
    KEVENT release;
};

TEST_F(ReusableWorkItemTest, QueueingCoalescesUntilTheRunStarts) {
    Counter counter;
    counter.block = true;
    ReusableWorkItem item;
    counter.item = &item;
    ASSERT_TRUE(item.Allocate(Device(), &Counter::Run, &counter));
    item.Queue();
    (void)KeWaitForSingleObject(&counter.entered, Executive, KernelMode, FALSE, nullptr);
    // While the first run blocks, three Queue() calls make one more run.
    item.Queue();
    item.Queue();
    item.Queue();
    (void)KeSetEvent(&counter.release, IO_NO_INCREMENT, FALSE);
    sim::Settle();
    EXPECT_EQ(counter.runs.load(), 2);

    counter.block = false;
    counter.requeueOnce = true;  // a Queue() from inside the run
    item.Queue();
    sim::Settle();
    EXPECT_EQ(counter.runs.load(), 4);
    item.Shutdown();
    item.Queue();  // after shutdown: nothing
    sim::Settle();
    EXPECT_EQ(counter.runs.load(), 4);
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
