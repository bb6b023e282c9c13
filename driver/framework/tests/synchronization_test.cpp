// RecursiveMutex, FastMutex, IrqlSpinLock and Wait on real simulated threads.
#include <gmock/gmock.h>

#include <atomic>
#include <thread>

#include "framework/fast_mutex.h"
#include "framework/irql_spin_lock.h"
#include "framework/recursive_mutex.h"
#include "framework/wait.h"
#include "framework_fixture.h"

namespace framework {
namespace {

using SynchronizationTest = testing::FrameworkTest;

TEST_F(SynchronizationTest, RecursiveMutexIsHeldUntilTheOwnerReleasesEveryAcquire) {
    RecursiveMutex mutex;
    mutex.Acquire();
    mutex.Acquire();  // the owner again: no wait
    EXPECT_TRUE(mutex.IsOwnedByCurrentThread());

    std::atomic<int> stage{0};
    std::thread other = sim::StartThread([&] {
        mutex.Release();  // not the owner: changes nothing
        stage = 1;
        mutex.Acquire();
        stage = 2;
        EXPECT_TRUE(mutex.IsOwnedByCurrentThread());
        mutex.Release();
    });
    sim::Settle();
    EXPECT_EQ(stage.load(), 1);
    EXPECT_TRUE(mutex.IsOwnedByCurrentThread());

    mutex.Release();
    sim::Settle();
    EXPECT_EQ(stage.load(), 1);  // depth 1 left

    mutex.Release();
    sim::Join(other);
    EXPECT_EQ(stage.load(), 2);
    EXPECT_FALSE(mutex.IsOwnedByCurrentThread());
}

TEST_F(SynchronizationTest, RecursiveMutexExcludesConcurrentOwners) {
    RecursiveMutex mutex;
    int inside = 0;
    int maximum = 0;
    int total = 0;
    auto worker = [&] {
        for (int round = 0; round < 100; ++round) {
            RecursiveMutexGuard outer(mutex);
            RecursiveMutexGuard inner(mutex);
            ++inside;
            if (inside > maximum) maximum = inside;
            ++total;
            --inside;
        }
    };
    std::thread a = sim::StartThread(worker);
    std::thread b = sim::StartThread(worker);
    sim::Join(a);
    sim::Join(b);
    EXPECT_EQ(maximum, 1);
    EXPECT_EQ(total, 200);
}

TEST_F(SynchronizationTest, FastMutexExcludesInsideACriticalRegion) {
    FastMutex mutex;
    int total = 0;
    auto worker = [&] {
        for (int round = 0; round < 100; ++round) {
            mutex.Acquire();
            ++total;
            mutex.Release();
        }
    };
    std::thread a = sim::StartThread(worker);
    std::thread b = sim::StartThread(worker);
    sim::Join(a);
    sim::Join(b);
    EXPECT_EQ(total, 200);
}

TEST_F(SynchronizationTest, IrqlSpinLockRaisesToItsTargetAndRestores) {
    IrqlSpinLock lock(PROFILE_LEVEL);
    lock.Acquire();
    EXPECT_EQ(KeGetCurrentIrql(), PROFILE_LEVEL);
    lock.Release();
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);

    const KIRQL previous = KfRaiseIrql(DISPATCH_LEVEL);
    lock.Acquire();
    EXPECT_EQ(KeGetCurrentIrql(), PROFILE_LEVEL);
    lock.Release();
    EXPECT_EQ(KeGetCurrentIrql(), DISPATCH_LEVEL);
    KfLowerIrql(previous);

    long total = 0;
    auto worker = [&] {
        for (int round = 0; round < 200; ++round) {
            lock.Acquire();
            ++total;
            lock.Release();
        }
    };
    std::thread a = sim::StartThread(worker);
    std::thread b = sim::StartThread(worker);
    sim::Join(a);
    sim::Join(b);
    EXPECT_EQ(total, 400);
}

TEST_F(SynchronizationTest, WaitWithZeroMillisecondsHasNoTimeOut) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    std::atomic<int> result{-1};
    std::thread waiter = sim::StartThread([&] { result = Wait(&event, 0) ? 1 : 0; });
    sim::Settle();
    sim::AdvanceTimeMs(3'600'000);  // an hour of virtual time
    EXPECT_EQ(result.load(), -1);
    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    sim::Join(waiter);
    EXPECT_EQ(result.load(), 1);
}

TEST_F(SynchronizationTest, WaitTimesOutOnTheVirtualClock) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    std::atomic<int> result{-1};
    std::thread waiter = sim::StartThread([&] { result = Wait(&event, 50) ? 1 : 0; });
    sim::Settle();
    sim::AdvanceTimeMs(40);
    EXPECT_EQ(result.load(), -1);
    sim::AdvanceTimeMs(40);
    sim::Join(waiter);
    EXPECT_EQ(result.load(), 0);

    KeSetEvent(&event, IO_NO_INCREMENT, FALSE);
    EXPECT_TRUE(Wait(&event, 50));
}

}  // namespace
}  // namespace framework
