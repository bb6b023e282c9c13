// Pending-IRP holders: holding and taking, the refusals, cancellation by the
// caller, by file object and by device, and a take racing a cancel.
#include <gmock/gmock.h>

#include <thread>

#include "driver_fixture.h"

namespace framework {
namespace {

using testing::DriverTest;
using testing::kHoldControl;
using testing::Open;
using testing::QueueDevice;
using testing::RecordingHolder;
using testing::Request;

class PendingIrpHolderTest : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        ASSERT_EQ(LoadFramework(), STATUS_SUCCESS);
        device_ = CreateQueueDevice(1);
        ASSERT_NE(device_, nullptr);
        file_ = Open();
        ASSERT_NE(file_, win32::INVALID_HANDLE_VALUE);
        fileObject_ = device_->lastOpenedFile;
    }
    void TearDown() override {
        (void)win32::CloseHandle(file_);
        DriverTest::TearDown();
    }
    RecordingHolder& Holder() { return device_->holder; }

    QueueDevice* device_ = nullptr;
    HANDLE file_ = nullptr;
    PFILE_OBJECT fileObject_ = nullptr;
};

TEST_F(PendingIrpHolderTest, HoldsOneRequestAndRefusesTheOthers) {
    Request held, second;
    ASSERT_TRUE(held.Control(file_, kHoldControl));
    EXPECT_FALSE(second.Control(file_, kHoldControl));
    EXPECT_EQ(second.Status(), STATUS_DEVICE_BUSY);

    PIRP irp = Holder().Take();
    ASSERT_NE(irp, nullptr);
    EXPECT_EQ(Holder().Take(), nullptr);
    (void)Complete(irp, STATUS_SUCCESS, 0);
    sim::Settle();
    EXPECT_EQ(held.Status(), STATUS_SUCCESS);

    // An IRP cancelled before it is held is handed back to be completed.
    PIRP cancelled = IoBuildDeviceIoControlRequest(kHoldControl, device_->DeviceObject(), nullptr,
                                                   0, nullptr, 0, FALSE, nullptr, nullptr);
    ASSERT_NE(cancelled, nullptr);
    (void)IoCancelIrp(cancelled);
    EXPECT_EQ(Holder().Hold(cancelled), STATUS_CANCELLED);
    (void)Complete(cancelled, STATUS_CANCELLED, 0);
    EXPECT_EQ(Holder().before.load(), 0);  // the caller completes: no hooks

    // Closed by the removal of its device.
    Request beforeRemoval, afterRemoval;
    ASSERT_TRUE(beforeRemoval.Control(file_, kHoldControl));
    CancelHeldForDevice(device_->DeviceObject(), true);
    sim::Settle();
    EXPECT_EQ(beforeRemoval.Status(), STATUS_CANCELLED);
    EXPECT_TRUE(Holder().IsClosed());
    EXPECT_FALSE(afterRemoval.Control(file_, kHoldControl));
    EXPECT_EQ(afterRemoval.Status(), STATUS_DEVICE_REMOVED);
    EXPECT_EQ(Holder().before.load(), 1);
    EXPECT_EQ(Holder().after.load(), 1);
}

TEST_F(PendingIrpHolderTest, CancellationCompletesCancelledBetweenTheHooks) {
    Request request;
    ASSERT_TRUE(request.Control(file_, kHoldControl));
    EXPECT_TRUE(win32::CancelIoEx(file_, nullptr));
    sim::Settle();
    EXPECT_EQ(request.Status(), STATUS_CANCELLED);
    EXPECT_EQ(Holder().before.load(), 1);
    EXPECT_EQ(Holder().after.load(), 1);
    EXPECT_EQ(Holder().Take(), nullptr);

    // The holder is free again; its destructor cancels what it holds.
    Request again;
    ASSERT_TRUE(again.Control(file_, kHoldControl));
    {
        auto* holder = new RecordingHolder;
        const KIRQL previous = KfRaiseIrql(DISPATCH_LEVEL);  // usable above it too
        PIRP irp = Holder().Take();
        const NTSTATUS status = irp == nullptr ? STATUS_UNSUCCESSFUL : holder->Hold(irp);
        KfLowerIrql(previous);
        EXPECT_EQ(status, STATUS_PENDING);
        delete holder;
    }
    sim::Settle();
    EXPECT_EQ(again.Status(), STATUS_CANCELLED);
}

TEST_F(PendingIrpHolderTest, CancelHeldForFileAndForDeviceChooseTheirRequests) {
    QueueDevice* other = CreateQueueDevice(1, StartPolicy::Dpc, u"\\Device\\ZovOther");
    ASSERT_NE(other, nullptr);
    HANDLE otherFile = Open(u"\\Device\\ZovOther");
    HANDLE secondFile = Open();
    Request mine, otherDevices;
    ASSERT_TRUE(mine.Control(file_, kHoldControl));
    ASSERT_TRUE(otherDevices.Control(otherFile, kHoldControl));

    EXPECT_TRUE(win32::CloseHandle(secondFile));  // cleanup of a file that holds nothing
    sim::Settle();
    EXPECT_EQ(mine.Status(), STATUS_PENDING);
    CancelHeldForDevice(other->DeviceObject(), false);  // a stop: the holder stays open
    sim::Settle();
    EXPECT_EQ(otherDevices.Status(), STATUS_CANCELLED);
    EXPECT_EQ(mine.Status(), STATUS_PENDING);
    EXPECT_FALSE(other->holder.IsClosed());

    CancelHeldForFile(fileObject_);
    sim::Settle();
    EXPECT_EQ(mine.Status(), STATUS_CANCELLED);

    Request any1, any2;
    ASSERT_TRUE(any1.Control(file_, kHoldControl));
    ASSERT_TRUE(any2.Control(otherFile, kHoldControl));
    CancelHeldForDevice(nullptr, false);
    sim::Settle();
    EXPECT_EQ(any1.Status(), STATUS_CANCELLED);
    EXPECT_EQ(any2.Status(), STATUS_CANCELLED);
    EXPECT_TRUE(win32::CloseHandle(otherFile));
}

TEST_F(PendingIrpHolderTest, TakeRacingCancelCompletesEachRequestOnce) {
    for (int round = 0; round < 100; ++round) {
        Request request;
        ASSERT_TRUE(request.Control(file_, kHoldControl));
        std::thread canceller = sim::StartThread([&] { (void)win32::CancelIoEx(file_, nullptr); });
        if (PIRP irp = Holder().Take()) (void)Complete(irp, STATUS_SUCCESS, 0);
        sim::Join(canceller);
        sim::Settle();
        const NTSTATUS status = request.Status();
        EXPECT_TRUE(status == STATUS_SUCCESS || status == STATUS_CANCELLED) << status;
    }
    EXPECT_EQ(Holder().before.load(), Holder().after.load());
}

// A cancel routine that lost the race to the destructor still finishes with the
// holder, hooks included, before the holder is gone.
TEST_F(PendingIrpHolderTest, DestructionRacingCancelWaitsForTheCancelRoutine) {
    for (int round = 0; round < 200; ++round) {
        SCOPED_TRACE(round);
        Request request;
        ASSERT_TRUE(request.Control(file_, kHoldControl));
        auto* holder = new RecordingHolder;
        PIRP irp = Holder().Take();
        ASSERT_NE(irp, nullptr);
        ASSERT_EQ(holder->Hold(irp), STATUS_PENDING);
        std::thread canceller = sim::StartThread([&] { (void)win32::CancelIoEx(file_, nullptr); });
        for (int spin = 0; spin < round % 20; ++spin) std::this_thread::yield();
        delete holder;
        sim::Join(canceller);
        sim::Settle();
        EXPECT_EQ(request.Status(), STATUS_CANCELLED);
    }
}

}  // namespace
}  // namespace framework
