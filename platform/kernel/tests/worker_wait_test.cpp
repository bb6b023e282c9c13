// A work item blocked in a wait of its own stays blocked while other work is
// queued: queueing wakes only idle workers.
#include <gtest/gtest.h>

#include <atomic>

#include "sim/system.h"
#include "wdm.h"

namespace {

struct Blocker {
    KEVENT release;
    std::atomic<bool> returned{false};
    NTSTATUS status = STATUS_PENDING;
    WORK_QUEUE_ITEM item;
};

struct Counter {
    std::atomic<int> runs{0};
    WORK_QUEUE_ITEM items[8];
};

TEST(WorkerWaitTest, QueueingMoreWorkDoesNotEndAWorkItemsWait) {
    sim::System system;
    Blocker blocker;
    KeInitializeEvent(&blocker.release, NotificationEvent, FALSE);
    ExInitializeWorkItem(
        &blocker.item,
        [](PVOID parameter) {
            auto* b = static_cast<Blocker*>(parameter);
            b->status = KeWaitForSingleObject(&b->release, Executive, KernelMode, FALSE, nullptr);
            b->returned = true;
        },
        &blocker);
    ExQueueWorkItem(&blocker.item, DelayedWorkQueue);
    sim::Settle();

    Counter counter;
    for (WORK_QUEUE_ITEM& item : counter.items) {
        ExInitializeWorkItem(
            &item, [](PVOID parameter) { ++static_cast<Counter*>(parameter)->runs; }, &counter);
        ExQueueWorkItem(&item, DelayedWorkQueue);
    }
    sim::Settle();
    EXPECT_EQ(counter.runs.load(), 8);
    EXPECT_FALSE(blocker.returned.load());

    (void)KeSetEvent(&blocker.release, IO_NO_INCREMENT, FALSE);
    sim::Settle();
    EXPECT_TRUE(blocker.returned.load());
    EXPECT_EQ(blocker.status, STATUS_SUCCESS);
}

}  // namespace
