// Kernel timers and timed waits on the virtual clock: expiry order, tick
// rounding, cancellation (also of a DPC the expiry already queued), periodic
// timers and auto-advance.
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "sim/system.h"
#include "sim/verifier.h"
#include "wdm.h"

namespace {

constexpr ULONGLONG kTick = 156250;

LARGE_INTEGER Relative(LONGLONG hundredNanoseconds) {
    LARGE_INTEGER due;
    due.QuadPart = -hundredNanoseconds;
    return due;
}

// A timer whose DPC records (id, interrupt time) in a shared log.
struct LoggedTimer {
    KTIMER timer;
    KDPC dpc;
    int id;
    struct Log {
        std::mutex mutex;
        std::vector<std::pair<int, ULONGLONG>> expiries;
    } * log;

    static VOID Expired(PKDPC, PVOID context, PVOID, PVOID) {
        auto* self = static_cast<LoggedTimer*>(context);
        std::lock_guard guard(self->log->mutex);
        self->log->expiries.emplace_back(self->id, KeQueryInterruptTime());
    }
    void Initialize(int timerId, Log* expiryLog) {
        id = timerId;
        log = expiryLog;
        KeInitializeTimer(&timer);
        KeInitializeDpc(&dpc, Expired, this);
    }
};

class TimerTest : public ::testing::Test {
  protected:
    sim::System system;
    LoggedTimer::Log log;
};

TEST_F(TimerTest, TimersExpireInDueOrderAtTheFirstTickAtOrAfterTheirDueTime) {
    LoggedTimer timers[4];
    // Due: 30 ms, 10 ms, 10 ms (set later), 1 tick exactly.
    const LONGLONG dues[4] = {300000, 100000, 100000, static_cast<LONGLONG>(kTick)};
    for (int i = 0; i < 4; ++i) {
        timers[i].Initialize(i, &log);
        KeSetTimer(&timers[i].timer, Relative(dues[i]), &timers[i].dpc);
    }
    sim::AdvanceTimeMs(40);
    const std::vector<std::pair<int, ULONGLONG>> expected = {
        {1, kTick}, {2, kTick}, {3, kTick}, {0, 2 * kTick}};
    EXPECT_EQ(log.expiries, expected);
    EXPECT_EQ(sim::Now(), 400000 - 400000 % kTick);
}

TEST_F(TimerTest, CancelBeforeExpiryAndResettingReportWhetherTheTimerWasSet) {
    LoggedTimer timer;
    timer.Initialize(1, &log);
    EXPECT_FALSE(KeSetTimer(&timer.timer, Relative(100000), &timer.dpc));
    EXPECT_TRUE(KeSetTimer(&timer.timer, Relative(500000), &timer.dpc));  // set anew
    sim::AdvanceTimeMs(20);
    EXPECT_TRUE(log.expiries.empty());
    EXPECT_TRUE(KeCancelTimer(&timer.timer));
    EXPECT_FALSE(KeCancelTimer(&timer.timer));
    sim::AdvanceTimeMs(100);
    EXPECT_TRUE(log.expiries.empty());
}

// A DPC that expires a second timer at once (its due time has passed) and then
// cancels it while that timer's DPC waits behind it on the same processor.
struct CancelInsideDpc {
    KDPC first;
    LoggedTimer second;
    BOOLEAN cancelled = FALSE;
    static VOID Run(PKDPC, PVOID context, PVOID, PVOID) {
        auto* self = static_cast<CancelInsideDpc*>(context);
        LARGE_INTEGER past;
        past.QuadPart = 1;  // absolute time long gone
        KeSetTimer(&self->second.timer, past, &self->second.dpc);
        self->cancelled = KeCancelTimer(&self->second.timer);
    }
};

TEST_F(TimerTest, CancellingATimerTakesBackTheDpcItsExpiryQueued) {
    CancelInsideDpc test;
    test.second.Initialize(2, &log);
    KeInitializeDpc(&test.first, CancelInsideDpc::Run, &test);
    KeSetTargetProcessorDpc(&test.first, 0);
    KeInsertQueueDpc(&test.first, nullptr, nullptr);
    sim::Settle();
    EXPECT_TRUE(test.cancelled);
    EXPECT_TRUE(log.expiries.empty());
    EXPECT_TRUE(KeReadStateTimer(&test.second.timer));  // it did expire
}

TEST_F(TimerTest, PeriodicTimerExpiresEveryPeriodUntilCancelled) {
    LoggedTimer timer;
    timer.Initialize(7, &log);
    KeSetTimerEx(&timer.timer, Relative(kTick), 50, &timer.dpc);  // 50 ms period
    sim::AdvanceTimeMs(160);
    KeCancelTimer(&timer.timer);
    std::vector<ULONGLONG> times;
    for (const auto& expiry : log.expiries) times.push_back(expiry.second);
    // Each due time is the previous due time plus the period (not the tick it
    // expired at), rounded up to a whole tick: 1, 5 and 8 ticks; 11 is past 160 ms.
    const std::vector<ULONGLONG> expected = {kTick, 5 * kTick, 8 * kTick};
    EXPECT_EQ(times, expected);
}

TEST_F(TimerTest, TimerSetForAPassedTimeExpiresAtOnce) {
    KTIMER timer;
    KeInitializeTimer(&timer);
    LARGE_INTEGER past;
    past.QuadPart = 1;
    KeSetTimer(&timer, past, nullptr);
    LARGE_INTEGER zero{};
    EXPECT_EQ(KeWaitForSingleObject(&timer, Executive, KernelMode, FALSE, &zero), STATUS_SUCCESS);
}

TEST_F(TimerTest, TimedWaitsTimeOutAtTickBoundariesWithAutoAdvance) {
    sim::SetAutoAdvance(true);
    KEVENT never;
    KeInitializeEvent(&never, NotificationEvent, FALSE);
    LARGE_INTEGER timeout = Relative(100000);  // 10 ms -> one tick
    EXPECT_EQ(KeWaitForSingleObject(&never, Executive, KernelMode, FALSE, &timeout),
              STATUS_TIMEOUT);
    EXPECT_EQ(sim::Now(), kTick);
    LARGE_INTEGER delay = Relative(3 * kTick);
    EXPECT_EQ(KeDelayExecutionThread(KernelMode, FALSE, &delay), STATUS_SUCCESS);
    EXPECT_EQ(sim::Now(), 4 * kTick);
}

TEST_F(TimerTest, AutoAdvanceRunsThroughTimersAndWaitsOfSeveralThreads) {
    sim::SetAutoAdvance(true);
    LoggedTimer timers[3];
    for (int i = 0; i < 3; ++i) {
        timers[i].Initialize(i, &log);
        KeSetTimer(&timers[i].timer, Relative((3 - i) * 1000000LL), &timers[i].dpc);
    }
    // Two application threads wait with time-outs; the event is set by nobody.
    KEVENT event;
    KeInitializeEvent(&event, SynchronizationEvent, FALSE);
    std::atomic<ULONGLONG> wokeAt[2] = {0, 0};
    std::vector<std::thread> waiters;
    for (int i = 0; i < 2; ++i) {
        waiters.push_back(sim::StartThread([&, i] {
            LARGE_INTEGER timeout = Relative((i + 1) * 2500000LL - 1000);
            if (KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, &timeout) ==
                STATUS_TIMEOUT) {
                wokeAt[i] = KeQueryInterruptTime();
            }
        }));
    }
    for (auto& waiter : waiters) sim::Join(waiter);
    // Wait for the last timer too.
    LARGE_INTEGER timeout = Relative(4000000);
    KeWaitForSingleObject(&timers[0].timer, Executive, KernelMode, FALSE, &timeout);
    sim::Settle();
    std::vector<int> order;
    for (const auto& expiry : log.expiries) order.push_back(expiry.first);
    EXPECT_EQ(order, (std::vector<int>{2, 1, 0}));
    EXPECT_EQ(wokeAt[0].load(), 2500000u);  // 16 ticks exactly
    EXPECT_EQ(wokeAt[1].load(), 5000000u);
}

TEST_F(TimerTest, SystemTimeAndTickCountFollowTheClockInTicks) {
    LARGE_INTEGER start;
    KeQuerySystemTime(&start);
    EXPECT_EQ(KeQueryTimeIncrement(), 156250u);
    sim::AdvanceTime(kTick * 3 + kTick / 2);
    LARGE_INTEGER now;
    KeQuerySystemTime(&now);
    EXPECT_EQ(now.QuadPart - start.QuadPart, static_cast<LONGLONG>(3 * kTick));
    LARGE_INTEGER ticks;
    KeQueryTickCount(&ticks);
    EXPECT_EQ(ticks.QuadPart, 3);
    sim::SetTimeIncrement(100000);
    EXPECT_EQ(KeQueryTimeIncrement(), 100000u);
}

}  // namespace
