// Timers, DPC objects and work items: what runs, when, at which IRQL, and that
// nothing is left behind.
#include <gmock/gmock.h>

#include <atomic>

#include "framework/dpc_object.h"
#include "framework/pool.h"
#include "framework/timer.h"
#include "framework/work_item.h"
#include "framework_fixture.h"
#include "sim/faults.h"

namespace framework {
namespace {

using DeferredWorkTest = testing::FrameworkTest;

struct Ticker {
    void OnTick(PVOID argument1, PVOID argument2) {
        irql = KeGetCurrentIrql();
        first = argument1;
        second = argument2;
        ++ticks;
    }
    std::atomic<int> ticks{0};
    KIRQL irql = PASSIVE_LEVEL;
    PVOID first = nullptr;
    PVOID second = nullptr;
};

LARGE_INTEGER RelativeMs(LONGLONG milliseconds) {
    LARGE_INTEGER due;
    due.QuadPart = -milliseconds * 10000;
    return due;
}

TEST_F(DeferredWorkTest, DpcObjectCallsItsOwnerWithTheSystemArguments) {
    Ticker ticker;
    DpcObject<Ticker> dpc(&ticker, &Ticker::OnTick);
    int one = 1, two = 2;
    EXPECT_TRUE(dpc.Insert(&one, &two));
    sim::Settle();
    EXPECT_EQ(ticker.ticks.load(), 1);
    EXPECT_EQ(ticker.irql, DISPATCH_LEVEL);
    EXPECT_EQ(ticker.first, &one);
    EXPECT_EQ(ticker.second, &two);
    EXPECT_FALSE(dpc.Remove());  // already ran
}

TEST_F(DeferredWorkTest, TimerExpiresOnTheVirtualClockAndCancelTakesItBack) {
    Ticker ticker;
    DpcObject<Ticker> dpc(&ticker, &Ticker::OnTick);
    Timer timer;
    timer.Set(RelativeMs(100), 0, dpc.Get());
    sim::AdvanceTimeMs(90);
    EXPECT_EQ(ticker.ticks.load(), 0);
    sim::AdvanceTimeMs(20);
    EXPECT_EQ(ticker.ticks.load(), 1);
    EXPECT_FALSE(timer.Cancel());  // expired: no longer set

    timer.Set(RelativeMs(100), 0, dpc.Get());
    timer.Set(RelativeMs(200), 0, dpc.Get());  // setting again replaces the first
    sim::AdvanceTimeMs(150);
    EXPECT_EQ(ticker.ticks.load(), 1);
    EXPECT_TRUE(timer.Cancel());
    sim::AdvanceTimeMs(200);
    EXPECT_EQ(ticker.ticks.load(), 1);

    timer.Set(RelativeMs(10), 10, dpc.Get());  // periodic
    sim::AdvanceTimeMs(100);
    EXPECT_GE(ticker.ticks.load(), 5);
    EXPECT_TRUE(timer.Cancel());
}

class RecordingWork : public WorkItem {
  public:
    explicit RecordingWork(std::atomic<int>* runs) : runs_(runs) {}

  protected:
    void Run(PVOID argument) override {
        EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
        EXPECT_EQ(argument, runs_);
        ++*runs_;
    }

  private:
    std::atomic<int>* runs_;
};

TEST_F(DeferredWorkTest, WorkItemRunsOnceAtPassiveLevelAndFreesItself) {
    std::atomic<int> runs{0};
    auto* item = WorkItem::Create<RecordingWork>(Device(), &runs);
    ASSERT_NE(item, nullptr);
    const KIRQL previous = KfRaiseIrql(DISPATCH_LEVEL);  // queued from a DPC, say
    item->Queue(&runs, DelayedWorkQueue);
    KfLowerIrql(previous);
    sim::Settle();
    EXPECT_EQ(runs.load(), 1);
    EXPECT_EQ(sim::PoolInUse(kPoolTag).blocks, 0u);

    auto* driverWide = WorkItem::Create<RecordingWork>(nullptr, &runs);  // the first device's
    ASSERT_NE(driverWide, nullptr);
    driverWide->Queue(&runs);
    sim::Settle();
    EXPECT_EQ(runs.load(), 2);
}

TEST_F(DeferredWorkTest, WorkItemCreationFailsCleanly) {
    std::atomic<int> runs{0};
    sim::AddFault({.site = sim::FaultSite::WorkItem, .nth = 1});
    EXPECT_EQ(WorkItem::Create<RecordingWork>(Device(), &runs), nullptr);
    sim::ClearFaults();
    sim::AddFault({.site = sim::FaultSite::Pool, .tag = kPoolTag, .nth = 1});
    EXPECT_EQ(WorkItem::Create<RecordingWork>(Device(), &runs), nullptr);  // IO_WORKITEM freed
    EXPECT_EQ(runs.load(), 0);
}

}  // namespace
}  // namespace framework
