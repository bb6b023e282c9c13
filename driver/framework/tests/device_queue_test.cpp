// Request queues through the file API: starting in order under both policies,
// stalls, cancellation racing the queue, aborts, cleanup per file object and
// the stall with idle notification that power changes use.
#include <gmock/gmock.h>

#include <algorithm>
#include <memory>
#include <set>
#include <thread>

#include "driver_fixture.h"
#include "sim/faults.h"

namespace framework {
namespace {

using testing::DriverTest;
using testing::Open;
using testing::QueueDevice;
using testing::Request;

class DeviceQueueTest : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        ASSERT_EQ(LoadFramework(), STATUS_SUCCESS);
    }
    void TearDown() override {
        for (HANDLE file : files_) (void)win32::CloseHandle(file);
        sim::Settle();
        DriverTest::TearDown();
    }
    HANDLE OpenFile() {
        HANDLE file = Open();
        EXPECT_NE(file, win32::INVALID_HANDLE_VALUE);
        files_.push_back(file);
        return file;
    }

    std::vector<HANDLE> files_;
};

class StartPolicyTest : public DeviceQueueTest,
                        public ::testing::WithParamInterface<StartPolicy> {};

TEST_P(StartPolicyTest, StalledQueueKeepsRequestsUntilUnstallThenStartsThemInOrder) {
    QueueDevice* device = CreateQueueDevice(1, GetParam());
    HANDLE file = OpenFile();
    Request requests[3];
    for (ULONG i = 0; i < 3; ++i) ASSERT_TRUE(requests[i].Read(file, 100 + i));
    sim::Settle();
    EXPECT_TRUE(device->StartedRequests().empty());  // constructed stalled once

    device->Queue(0)->Unstall();
    sim::Settle();
    ASSERT_EQ(device->StartedRequests().size(), 1u);
    device->Queue(0)->Stall();
    device->FinishCurrent(0);  // stalled again: the next one waits
    sim::Settle();
    EXPECT_EQ(requests[0].Status(), STATUS_SUCCESS);
    EXPECT_TRUE(device->Queue(0)->IsIdle());
    EXPECT_EQ(device->StartedRequests().size(), 1u);
    device->Queue(0)->Unstall();
    sim::Settle();
    ASSERT_EQ(device->StartedRequests().size(), 2u);
    // The next start comes from the queue DPC, at DISPATCH_LEVEL.
    ASSERT_EQ(device->RequestGiveUp(0), STATUS_SUCCESS);
    EXPECT_EQ(device->RequestGiveUp(1), STATUS_INVALID_PARAMETER);
    sim::Settle();
    device->FinishCurrent(0);
    sim::Settle();

    const auto started = device->StartedRequests();
    ASSERT_EQ(started.size(), 3u);
    const KIRQL startIrql = GetParam() == StartPolicy::Dpc ? DISPATCH_LEVEL : PASSIVE_LEVEL;
    for (ULONG i = 0; i < 3; ++i) {
        EXPECT_EQ(started[i].offset, 100 + i);
        EXPECT_EQ(started[i].startNumber, i + 1);
        EXPECT_EQ(started[i].irql, startIrql);
    }
    EXPECT_EQ(requests[1].Status(), STATUS_PENDING);  // given up, not completed, by the DPC
    EXPECT_EQ(requests[2].Status(), STATUS_SUCCESS);
    // The test completes the request the DPC gave up.
    (void)Complete(started[1].irp, STATUS_SUCCESS, 0);
    sim::Settle();
    EXPECT_EQ(requests[1].Status(), STATUS_SUCCESS);
}

INSTANTIATE_TEST_SUITE_P(BothPolicies, StartPolicyTest,
                         ::testing::Values(StartPolicy::Dpc, StartPolicy::Passive));

TEST_F(DeviceQueueTest, UnstallsWithoutAStallLeaveTheQueueStartingRequests) {
    // As after a start that follows a stop no query-stop preceded.
    QueueDevice* device = CreateQueueDevice(1);
    device->Queue(0)->Unstall();
    device->Queue(0)->Unstall();
    EXPECT_EQ(device->Queue(0)->StallCount(), 0);
    HANDLE file = OpenFile();
    Request request;
    ASSERT_TRUE(request.Read(file, 1));
    sim::Settle();
    EXPECT_EQ(device->StartedRequests().size(), 1u);
    device->Queue(0)->Stall();
    EXPECT_EQ(device->Queue(0)->StallCount(), 1);
    device->FinishCurrent(0);
}

TEST_F(DeviceQueueTest, CancelledWaitingRequestCompletesCancelledAndIsNeverStarted) {
    QueueDevice* device = CreateQueueDevice(3);
    HANDLE file = OpenFile();
    Request first, second;
    ASSERT_TRUE(first.Read(file, 1));
    ASSERT_TRUE(second.Read(file, 2));
    ASSERT_TRUE(win32::CancelIoEx(file, first.Overlapped()));  // cancels both
    sim::Settle();
    EXPECT_EQ(first.Status(), STATUS_CANCELLED);
    EXPECT_EQ(second.Status(), STATUS_CANCELLED);

    // A request cancelled before it reaches the queue.
    PIRP irp = IoBuildDeviceIoControlRequest(
        CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, 0), device->DeviceObject(), nullptr,
        0, nullptr, 0, FALSE, nullptr, nullptr);
    ASSERT_NE(irp, nullptr);
    EXPECT_FALSE(IoCancelIrp(irp));  // no cancel routine yet: only marks it
    IO_STATUS_BLOCK status{};
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    irp->UserIosb = &status;
    irp->UserEvent = &done;
    EXPECT_EQ(IoCallDriver(device->DeviceObject(), irp), STATUS_PENDING);
    (void)KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    EXPECT_EQ(status.Status, STATUS_CANCELLED);

    device->UnstallAll();
    sim::Settle();
    EXPECT_TRUE(device->StartedRequests().empty());
    EXPECT_TRUE(device->Queue(0)->IsIdle());
    EXPECT_TRUE(device->Queue(2)->IsIdle());
}

// A queue deleted while the cancel routine of one of its waiting requests runs
// waits for that routine; the request completes once, either way.
TEST_F(DeviceQueueTest, DestructionRacingCancelWaitsForTheCancelRoutine) {
    QueueDevice* device = CreateQueueDevice(1);
    HANDLE file = OpenFile();
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        device->CreateSpareQueue();
        Request request;
        ASSERT_TRUE(request.Read(file, 0));
        std::thread canceller = sim::StartThread([&] { (void)win32::CancelIoEx(file, nullptr); });
        for (int spin = 0; spin < round % 20; ++spin) std::this_thread::yield();
        device->DeleteSpareQueue();
        sim::Join(canceller);
        sim::Settle();
        const NTSTATUS status = request.Status();
        EXPECT_TRUE(status == STATUS_CANCELLED || status == STATUS_DELETE_PENDING) << status;
    }
}

TEST_F(DeviceQueueTest, CancellationRacingTheQueueNeverStartsACancelledRequest) {
    QueueDevice* device = CreateQueueDevice(1);
    device->Queue(0)->Unstall();
    HANDLE file = OpenFile();
    constexpr ULONG kRequests = 200;
    std::vector<std::unique_ptr<Request>> requests;
    for (ULONG i = 0; i < kRequests; ++i) requests.push_back(std::make_unique<Request>());
    std::atomic<bool> issuing{true};
    std::thread finisher = sim::StartThread([&] {
        // Finishes each request once its start routine has seen it, slowly,
        // so that requests wait and get cancelled meanwhile.
        size_t finished = 0;
        while (issuing.load() || finished < device->StartedRequests().size()) {
            if (finished < device->StartedRequests().size()) {
                for (int i = 0; i < 50; ++i) std::this_thread::yield();
                device->FinishCurrent(0);
                ++finished;
            } else {
                std::this_thread::yield();
            }
        }
    });
    std::thread canceller = sim::StartThread([&] {
        while (issuing.load()) {
            (void)win32::CancelIoEx(file, nullptr);
            for (int i = 0; i < 500; ++i) std::this_thread::yield();
        }
    });
    for (ULONG i = 0; i < kRequests; ++i) {
        (void)requests[i]->Read(file, i);
        for (int spin = 0; spin < 20; ++spin) std::this_thread::yield();
    }
    (void)win32::CancelIoEx(file, nullptr);
    issuing = false;
    sim::Join(canceller);
    sim::Join(finisher);
    sim::Settle();

    std::set<LONGLONG> started;
    for (const auto& s : device->StartedRequests()) EXPECT_TRUE(started.insert(s.offset).second);
    for (ULONG i = 0; i < kRequests; ++i) {
        SCOPED_TRACE(i);
        const NTSTATUS status = requests[i]->Status();
        if (status == STATUS_CANCELLED) {
            EXPECT_EQ(started.count(i), 0u);
        } else {
            EXPECT_EQ(status, STATUS_SUCCESS);
            EXPECT_EQ(started.count(i), 1u);
        }
    }
}

TEST_F(DeviceQueueTest, AbortFailsWaitingAndNewRequestsUntilCleared) {
    QueueDevice* device = CreateQueueDevice(1);
    device->Queue(0)->Unstall();
    HANDLE file = OpenFile();
    Request current, waiting, late, afterClear;
    ASSERT_TRUE(current.Read(file, 1));
    ASSERT_TRUE(waiting.Read(file, 2));
    sim::Settle();
    device->AbortAll(STATUS_DELETE_PENDING);
    EXPECT_EQ(device->cancelOwnRequestsCalls.load(), 1);
    sim::Settle();
    EXPECT_EQ(waiting.Status(), STATUS_DELETE_PENDING);
    EXPECT_EQ(current.Status(), STATUS_PENDING);  // the owner's to finish
    (void)late.Read(file, 3);
    sim::Settle();
    EXPECT_EQ(late.Status(), STATUS_DELETE_PENDING);
    device->FinishCurrent(0);

    device->ClearAllAborts();
    ASSERT_TRUE(afterClear.Read(file, 4));
    sim::Settle();
    ASSERT_EQ(device->StartedRequests().size(), 2u);
    EXPECT_EQ(device->StartedRequests()[1].offset, 4);
    device->FinishCurrent(0);
    sim::Settle();
    EXPECT_EQ(afterClear.Status(), STATUS_SUCCESS);
}

TEST_F(DeviceQueueTest, CleanupCompletesOnlyTheClosingFilesWaitingRequests) {
    QueueDevice* device = CreateQueueDevice(2);
    device->Queue(0)->Unstall();
    HANDLE closing = Open();
    HANDLE staying = OpenFile();
    Request current, closingRead, closingWrite, stayingRead, stayingWrite;
    ASSERT_TRUE(current.Read(closing, 1));
    ASSERT_TRUE(closingRead.Read(closing, 2));
    ASSERT_TRUE(closingWrite.Write(closing));
    ASSERT_TRUE(stayingRead.Read(staying, 3));
    ASSERT_TRUE(stayingWrite.Write(staying));
    EXPECT_TRUE(win32::CloseHandle(closing));  // IRP_MJ_CLEANUP
    sim::Settle();
    EXPECT_EQ(closingRead.Status(), STATUS_CANCELLED);
    EXPECT_EQ(closingWrite.Status(), STATUS_CANCELLED);
    EXPECT_EQ(current.Status(), STATUS_PENDING);
    EXPECT_EQ(stayingRead.Status(), STATUS_PENDING);
    EXPECT_EQ(stayingWrite.Status(), STATUS_PENDING);
    device->FinishCurrent(0);
    sim::Settle();
    EXPECT_EQ(current.Status(), STATUS_SUCCESS);
    ASSERT_EQ(device->StartedRequests().size(), 2u);
    EXPECT_EQ(device->StartedRequests()[1].offset, 3);
    device->FinishCurrent(0);

    device->CleanupAll(nullptr, STATUS_CANCELLED);  // every file
    sim::Settle();
    EXPECT_EQ(stayingWrite.Status(), STATUS_CANCELLED);
}

struct IdleCounter {
    std::atomic<int> calls{0};
    static VOID Notify(PVOID context) { ++static_cast<IdleCounter*>(context)->calls; }
};

TEST_F(DeviceQueueTest, StallWithNotifyCallsOnceAfterTheLastBusyQueueGoesIdle) {
    for (ULONG busy = 0; busy <= 3; ++busy) {
        SCOPED_TRACE(busy);
        QueueDevice* device = CreateQueueDevice(3);
        device->UnstallAll();
        HANDLE file = Open();
        Request requests[3];
        // Busy queues: the read, write and control queues, in that order.
        if (busy > 0) {
            ASSERT_TRUE(requests[0].Read(file, 0));
        }
        if (busy > 1) {
            ASSERT_TRUE(requests[1].Write(file));
        }
        if (busy > 2) {
            ASSERT_TRUE(requests[2].Control(file, 0x222003));
        }
        sim::Settle();

        IdleCounter idle;
        const NTSTATUS status = device->StallAllWithNotify(&IdleCounter::Notify, &idle);
        EXPECT_EQ(status, busy == 0 ? STATUS_SUCCESS : STATUS_PENDING);
        for (ULONG i = 0; i < 3; ++i) EXPECT_EQ(device->Queue(i)->StallCount(), 1);
        for (ULONG i = 0; i < busy; ++i) {
            EXPECT_EQ(idle.calls.load(), 0);
            if (i == 1) {
                ASSERT_EQ(device->RequestGiveUp(i), STATUS_SUCCESS);  // through the DPC
                sim::Settle();
                (void)Complete(device->StartedRequests()[i].irp, STATUS_SUCCESS, 0);
            } else {
                device->FinishCurrent(i);
            }
        }
        sim::Settle();
        EXPECT_EQ(idle.calls.load(), busy == 0 ? 0 : 1);
        device->WaitAllIdle();
        device->UnstallAll();
        EXPECT_TRUE(win32::CloseHandle(file));
        sim::Settle();
        delete device;
        EXPECT_EQ(sim::PoolInUse(kPoolTag).blocks, 3u);  // the driver's own
    }
}

TEST_F(DeviceQueueTest, StallWithNotifyFailuresLeaveEveryStallCountAsItWas) {
    QueueDevice* device = CreateQueueDevice(3);
    device->UnstallAll();
    HANDLE file = OpenFile();
    Request read, write, control;
    ASSERT_TRUE(read.Read(file, 0));
    ASSERT_TRUE(control.Control(file, 0x222003));
    sim::Settle();

    sim::AddFault({.site = sim::FaultSite::Pool, .tag = kPoolTag, .nth = 1});
    IdleCounter idle;
    EXPECT_EQ(device->StallAllWithNotify(&IdleCounter::Notify, &idle),
              STATUS_INSUFFICIENT_RESOURCES);
    sim::ClearFaults();
    for (ULONG i = 0; i < 3; ++i) EXPECT_EQ(device->Queue(i)->StallCount(), 0);

    device->Queue(2)->Stall();
    EXPECT_EQ(device->StallAllWithNotify(&IdleCounter::Notify, &idle), STATUS_PENDING);
    // The busy queues still carry their notification.
    EXPECT_EQ(device->StallAllWithNotify(&IdleCounter::Notify, &idle),
              STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(device->Queue(0)->StallCount(), 1);
    EXPECT_EQ(device->Queue(1)->StallCount(), 1);
    EXPECT_EQ(device->Queue(2)->StallCount(), 2);

    device->FinishCurrent(0);
    EXPECT_EQ(idle.calls.load(), 0);
    device->FinishCurrent(2);
    EXPECT_EQ(idle.calls.load(), 1);
    device->UnstallAll();
    // A write arriving now starts: its queue is no longer stalled; the control
    // queue, stalled twice, stays stalled.
    EXPECT_EQ(device->Queue(2)->StallCount(), 1);
    ASSERT_TRUE(write.Write(file));
    sim::Settle();
    EXPECT_EQ(device->StartedRequests().size(), 3u);
    device->FinishCurrent(1);
}

TEST_F(DeviceQueueTest, WaitIdleReturnsOnceTheCurrentRequestIsGivenUp) {
    QueueDevice* device = CreateQueueDevice(1, StartPolicy::Passive);
    device->UnstallAll();
    HANDLE file = OpenFile();
    Request request;
    ASSERT_TRUE(request.Read(file, 7));
    sim::Settle();
    device->StallAll();
    std::atomic<bool> idle{false};
    std::thread waiter = sim::StartThread([&] {
        device->WaitAllIdle();
        idle = true;
    });
    sim::Settle();
    EXPECT_FALSE(idle.load());
    device->FinishCurrent(0);
    sim::Join(waiter);
    EXPECT_TRUE(idle.load());
    EXPECT_EQ(request.Status(), STATUS_SUCCESS);
}

}  // namespace
}  // namespace framework
