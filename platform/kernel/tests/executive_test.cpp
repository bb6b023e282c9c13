// Executive services: tagged pool with fault injection, raised statuses, spin
// locks that exclude and raise IRQL, fast mutexes and interlocked lists.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "sim/faults.h"
#include "sim/io.h"
#include "sim/system.h"
#include "sim/verifier.h"
#include "wdm.h"

namespace {

constexpr ULONG Tag(const char (&text)[5]) {
    return static_cast<ULONG>(text[0]) | static_cast<ULONG>(text[1]) << 8 |
           static_cast<ULONG>(text[2]) << 16 | static_cast<ULONG>(text[3]) << 24;
}
constexpr ULONG kTagA = Tag("TstA");
constexpr ULONG kTagB = Tag("TstB");

class ExecutiveTest : public ::testing::Test {
  protected:
    sim::System system;
};

TEST_F(ExecutiveTest, PoolIsAccountedPerTag) {
    void* a1 = ExAllocatePoolWithTag(NonPagedPool, 10, kTagA);
    void* a2 = ExAllocatePoolWithTag(PagedPool, 20, kTagA);
    void* b = ExAllocatePoolWithTag(NonPagedPool, 5, kTagB);
    EXPECT_EQ(sim::PoolInUse(kTagA).blocks, 2u);
    EXPECT_EQ(sim::PoolInUse(kTagA).bytes, 30u);
    EXPECT_EQ(sim::PoolInUse(kTagB).bytes, 5u);
    ExFreePoolWithTag(a1, kTagA);
    ExFreePool(a2);
    ExFreePoolWithTag(b, kTagB);
    EXPECT_EQ(sim::PoolInUse().blocks, 0u);
}

struct FaultCase {
    const char* name;
    sim::FaultRule rule;
    std::vector<bool> expectedFailures;  // for six allocations tagged A, B, A, B, A, B
};

class PoolFaultTest : public ExecutiveTest, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(PoolFaultTest, AllocationsFailAsTheRuleSays) {
    sim::AddFault(GetParam().rule);
    std::vector<bool> failures;
    for (int i = 0; i < 6; ++i) {
        const ULONG tag = i % 2 == 0 ? kTagA : kTagB;
        void* p = ExAllocatePoolWithTag(NonPagedPool, 8, tag);
        failures.push_back(p == nullptr);
        if (p != nullptr) ExFreePoolWithTag(p, tag);
    }
    EXPECT_EQ(failures, GetParam().expectedFailures);
    EXPECT_EQ(sim::AllocationCalls(sim::FaultSite::Pool, kTagA), 3u);
}

INSTANTIATE_TEST_SUITE_P(Rules, PoolFaultTest,
                         ::testing::Values(FaultCase{"ByTag",
                                                     {sim::FaultSite::Pool, kTagB, 1, 100, 0.0},
                                                     {false, true, false, true, false, true}},
                                           FaultCase{"NthCallOfAnyTag",
                                                     {sim::FaultSite::Pool, 0, 3, 1, 0.0},
                                                     {false, false, true, false, false, false}},
                                           FaultCase{"SecondAndThirdOfOneTag",
                                                     {sim::FaultSite::Pool, kTagA, 2, 2, 0.0},
                                                     {false, false, true, false, true, false}},
                                           FaultCase{"Always",
                                                     {sim::FaultSite::Pool, 0, 0, 0, 1.0},
                                                     {true, true, true, true, true, true}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ExecutiveTest, RandomFaultsReplayExactlyFromTheirSeed) {
    auto run = [](std::uint64_t seed) {
        sim::ClearFaults();
        sim::SeedFaults(seed);
        sim::AddFault({sim::FaultSite::Pool, 0, 0, 0, 0.5});
        std::vector<bool> failures;
        for (int i = 0; i < 64; ++i) {
            void* p = ExAllocatePoolWithTag(NonPagedPool, 1, kTagA);
            failures.push_back(p == nullptr);
            if (p != nullptr) ExFreePool(p);
        }
        return failures;
    };
    const auto first = run(42);
    EXPECT_EQ(run(42), first);
    EXPECT_NE(run(43), first);
    EXPECT_GT(std::count(first.begin(), first.end(), true), 10);
}

TEST_F(ExecutiveTest, IrpAndWorkItemAllocationsCanFail) {
    sim::AddFault({sim::FaultSite::Irp, 0, 2, 1, 0.0});
    sim::AddFault({sim::FaultSite::WorkItem, 0, 1, 1, 0.0});
    PIRP first = IoAllocateIrp(1, FALSE);
    EXPECT_NE(first, nullptr);
    EXPECT_EQ(IoAllocateIrp(1, FALSE), nullptr);
    IoFreeIrp(first);
    DEVICE_OBJECT fake{};
    EXPECT_EQ(IoAllocateWorkItem(&fake), nullptr);
    EXPECT_EQ(sim::InjectedFailures(), 2u);
}

TEST_F(ExecutiveTest, RaisingAllocationAndExRaiseStatusUnwindToTheNearestHandler) {
    sim::AddFault({sim::FaultSite::Pool, 0, 1, 1, 0.0});
    NTSTATUS caught = STATUS_SUCCESS;
    try {
        (void)ExAllocatePoolWithTag(NonPagedPool | POOL_RAISE_IF_ALLOCATION_FAILURE, 8, kTagA);
        FAIL() << "the allocation did not raise";
    } catch (const kernel::StatusException& exception) {
        caught = exception.Status();
    }
    EXPECT_EQ(caught, STATUS_INSUFFICIENT_RESOURCES);
    auto inner = [] { ExRaiseStatus(STATUS_INVALID_PARAMETER); };
    try {
        inner();
    } catch (const kernel::StatusException& exception) {
        caught = exception.Status();
    }
    EXPECT_EQ(caught, STATUS_INVALID_PARAMETER);
}

TEST_F(ExecutiveTest, SpinLocksExcludeAndRaiseToDispatchLevel) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    long counter = 0;  // plain: the lock is its only protection
    bool irqlRight = true;
    auto work = [&] {
        for (int i = 0; i < 2000; ++i) {
            KIRQL old;
            KeAcquireSpinLock(&lock, &old);
            irqlRight = irqlRight && KeGetCurrentIrql() == DISPATCH_LEVEL && old == PASSIVE_LEVEL;
            ++counter;
            KeReleaseSpinLock(&lock, old);
        }
    };
    std::thread other = sim::StartThread(work);
    work();
    sim::Join(other);
    EXPECT_EQ(counter, 4000);
    EXPECT_TRUE(irqlRight);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

TEST_F(ExecutiveTest, FastMutexExcludesAcrossWaitsAtApcLevel) {
    FAST_MUTEX mutex;
    ExInitializeFastMutex(&mutex);
    long counter = 0;
    auto work = [&] {
        for (int i = 0; i < 500; ++i) {
            ExAcquireFastMutex(&mutex);
            EXPECT_EQ(KeGetCurrentIrql(), APC_LEVEL);
            ++counter;
            ExReleaseFastMutex(&mutex);
        }
    };
    std::thread other = sim::StartThread(work);
    work();
    sim::Join(other);
    EXPECT_EQ(counter, 1000);
    EXPECT_TRUE(ExTryToAcquireFastMutex(&mutex));
    EXPECT_EQ(mutex.Count, 0);
    ExReleaseFastMutex(&mutex);
    EXPECT_EQ(mutex.Count, 1);
}

TEST_F(ExecutiveTest, InterlockedListsKeepOrderAndReportTheFormerHead) {
    KSPIN_LOCK lock;
    KeInitializeSpinLock(&lock);
    LIST_ENTRY head;
    InitializeListHead(&head);
    LIST_ENTRY entries[3];
    EXPECT_EQ(ExInterlockedInsertTailList(&head, &entries[0], &lock), nullptr);
    EXPECT_EQ(ExInterlockedInsertTailList(&head, &entries[1], &lock), &entries[0]);
    EXPECT_EQ(ExInterlockedInsertHeadList(&head, &entries[2], &lock), &entries[0]);
    EXPECT_EQ(ExInterlockedRemoveHeadList(&head, &lock), &entries[2]);
    EXPECT_EQ(ExInterlockedRemoveHeadList(&head, &lock), &entries[0]);
    EXPECT_EQ(ExInterlockedRemoveHeadList(&head, &lock), &entries[1]);
    EXPECT_EQ(ExInterlockedRemoveHeadList(&head, &lock), nullptr);
    SINGLE_LIST_ENTRY stack{nullptr};
    SINGLE_LIST_ENTRY items[2];
    EXPECT_EQ(ExInterlockedPushEntryList(&stack, &items[0], &lock), nullptr);
    EXPECT_EQ(ExInterlockedPushEntryList(&stack, &items[1], &lock), &items[0]);
    EXPECT_EQ(ExInterlockedPopEntryList(&stack, &lock), &items[1]);
    EXPECT_EQ(KeGetCurrentIrql(), PASSIVE_LEVEL);
}

}  // namespace
