// IRPs through device stacks: buffered requests, completion routines that keep
// the IRP, pending completion from another thread, driver-allocated IRPs that
// are reused, and cancellation racing completion.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <thread>

#include "sim/system.h"
#include "sim/verifier.h"
#include "test_driver.h"

namespace {

using kernel_test::CompleteIrp;
using kernel_test::Extension;
using kernel_test::SendControl;
using kernel_test::TestDriver;

constexpr ULONG kEcho = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x801, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kClaimTooMuch =
    CTL_CODE(FILE_DEVICE_UNKNOWN, 0x802, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kDirectOut =
    CTL_CODE(FILE_DEVICE_UNKNOWN, 0x803, METHOD_OUT_DIRECT, FILE_ANY_ACCESS);

class IrpTest : public ::testing::Test {
  protected:
    sim::System system;
    TestDriver driver;
};

// Reverses the input into the output; the second code claims 100 bytes more
// than the output buffer holds; the direct code fills the MDL's buffer.
NTSTATUS ControlHandler(PDEVICE_OBJECT, PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const auto& control = stack->Parameters.DeviceIoControl;
    auto* buffer = static_cast<unsigned char*>(irp->AssociatedIrp.SystemBuffer);
    switch (control.IoControlCode) {
        case kEcho: {
            const ULONG count = std::min(control.InputBufferLength, control.OutputBufferLength);
            std::reverse(buffer, buffer + count);
            return CompleteIrp(irp, STATUS_SUCCESS, count);
        }
        case kClaimTooMuch:
            std::memset(buffer, 'x', control.OutputBufferLength);
            return CompleteIrp(irp, STATUS_SUCCESS, control.OutputBufferLength + 100);
        case kDirectOut: {
            auto* out = static_cast<char*>(MmGetSystemAddressForMdlSafe(irp->MdlAddress, 0));
            std::memset(out, 'd', MmGetMdlByteCount(irp->MdlAddress));
            return CompleteIrp(irp, STATUS_SUCCESS, MmGetMdlByteCount(irp->MdlAddress));
        }
        default:
            return CompleteIrp(irp, STATUS_INVALID_DEVICE_REQUEST);
    }
}

TEST_F(IrpTest, BufferedAndDirectControlRequestsCopyOnlyWhatFits) {
    PDEVICE_OBJECT device = driver.CreateDevice(ControlHandler);
    char input[4] = {'a', 'b', 'c', 'd'};
    char output[8] = {};
    ULONG_PTR information = 0;
    EXPECT_EQ(SendControl(device, kEcho, input, 4, output, 8, &information), STATUS_SUCCESS);
    EXPECT_EQ(information, 4u);
    EXPECT_EQ(std::string(output, 4), "dcba");

    // The driver claims more than the caller's buffer: only the buffer is written.
    char guarded[12];
    std::memset(guarded, 'g', sizeof guarded);
    EXPECT_EQ(SendControl(device, kClaimTooMuch, nullptr, 0, guarded, 8, &information),
              STATUS_SUCCESS);
    EXPECT_EQ(std::string(guarded, 12), "xxxxxxxxgggg");

    char direct[6] = {};
    EXPECT_EQ(SendControl(device, kDirectOut, nullptr, 0, direct, 5, &information), STATUS_SUCCESS);
    EXPECT_EQ(std::string(direct, 6), std::string("ddddd\0", 6));

    EXPECT_EQ(SendControl(device, 0x12345678), STATUS_INVALID_DEVICE_REQUEST);
}

// The lower device pends the IRP and completes it from a work item; the filter
// forwards it with a completion routine that keeps it, waits, then completes.
struct ForwardAndWait {
    KEVENT done;
    static NTSTATUS Completion(PDEVICE_OBJECT, PIRP, PVOID context) {
        KeSetEvent(&static_cast<ForwardAndWait*>(context)->done, IO_NO_INCREMENT, FALSE);
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
};

TEST_F(IrpTest, CompletionRoutineKeepsTheIrpUntilTheForwarderCompletesIt) {
    std::atomic<int> lowerCalls{0};
    PIO_WORKITEM item = nullptr;
    PDEVICE_OBJECT lower = driver.CreateDevice([&](PDEVICE_OBJECT device, PIRP irp) {
        ++lowerCalls;
        IoMarkIrpPending(irp);
        item = IoAllocateWorkItem(device);
        IoQueueWorkItem(
            item,
            [](PDEVICE_OBJECT, PVOID context) {
                auto* pending = static_cast<PIRP>(context);
                CompleteIrp(pending, STATUS_SUCCESS, 42);
            },
            DelayedWorkQueue, irp);
        return STATUS_PENDING;
    });
    std::atomic<bool> sawLowerResult{false};
    PDEVICE_OBJECT filter = driver.CreateFilter(lower, [&](PDEVICE_OBJECT device, PIRP irp) {
        ForwardAndWait wait;
        KeInitializeEvent(&wait.done, NotificationEvent, FALSE);
        IoCopyCurrentIrpStackLocationToNext(irp);
        IoSetCompletionRoutine(irp, ForwardAndWait::Completion, &wait, TRUE, TRUE, TRUE);
        const NTSTATUS status = IoCallDriver(Extension(device).lower, irp);
        EXPECT_EQ(status, STATUS_PENDING);
        KeWaitForSingleObject(&wait.done, Executive, KernelMode, FALSE, nullptr);
        sawLowerResult = irp->IoStatus.Information == 42 && irp->PendingReturned;
        return CompleteIrp(irp, STATUS_SUCCESS, 7);
    });
    EXPECT_EQ(filter->StackSize, 2);
    ULONG_PTR information = 0;
    EXPECT_EQ(SendControl(filter, kEcho, nullptr, 0, nullptr, 0, &information), STATUS_SUCCESS);
    EXPECT_EQ(information, 7u);
    EXPECT_TRUE(sawLowerResult);
    EXPECT_EQ(lowerCalls, 1);
    sim::Settle();
    IoFreeWorkItem(item);
}

// A driver-allocated IRP sent three times: its completion routine keeps it.
struct Reusable {
    KEVENT done;
    int completions = 0;
    static NTSTATUS Completion(PDEVICE_OBJECT device, PIRP irp, PVOID context) {
        auto* self = static_cast<Reusable*>(context);
        EXPECT_EQ(device, nullptr);  // no device above the first location
        EXPECT_EQ(irp->IoStatus.Status, STATUS_SUCCESS);
        ++self->completions;
        KeSetEvent(&self->done, IO_NO_INCREMENT, FALSE);
        return STATUS_MORE_PROCESSING_REQUIRED;
    }
};

TEST_F(IrpTest, DriverAllocatedIrpIsReusedAfterItsCompletionRoutineKeepsIt) {
    PDEVICE_OBJECT lower = driver.CreateDevice();
    PIRP irp = IoAllocateIrp(lower->StackSize, FALSE);
    ASSERT_NE(irp, nullptr);
    Reusable reusable;
    for (int round = 0; round < 3; ++round) {
        KeInitializeEvent(&reusable.done, NotificationEvent, FALSE);
        IoReuseIrp(irp, STATUS_NOT_SUPPORTED);
        PIO_STACK_LOCATION next = IoGetNextIrpStackLocation(irp);
        next->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        IoSetCompletionRoutine(irp, Reusable::Completion, &reusable, TRUE, TRUE, TRUE);
        EXPECT_EQ(IoCallDriver(lower, irp), STATUS_SUCCESS);
        KeWaitForSingleObject(&reusable.done, Executive, KernelMode, FALSE, nullptr);
    }
    EXPECT_EQ(reusable.completions, 3);
    IoFreeIrp(irp);
}

// A pending request with a cancel routine; a DPC completes it while the test
// cancels it. Whoever takes the cancel routine back owns the IRP.
struct PendingRequest {
    PIRP irp = nullptr;
    KDPC dpc;
    std::atomic<int> completions{0};

    static VOID Cancel(PDEVICE_OBJECT, PIRP irp) {
        IoReleaseCancelSpinLock(irp->CancelIrql);
        auto* self = static_cast<PendingRequest*>(irp->Tail.Overlay.DriverContext[0]);
        ++self->completions;
        CompleteIrp(irp, STATUS_CANCELLED);
    }
    static VOID CompleteFromDpc(PKDPC, PVOID context, PVOID, PVOID) {
        auto* self = static_cast<PendingRequest*>(context);
        if (IoSetCancelRoutine(self->irp, nullptr) != nullptr) {
            ++self->completions;
            CompleteIrp(self->irp, STATUS_SUCCESS);
        }
    }
};

TEST_F(IrpTest, CancelRacingCompletionCompletesEachIrpExactlyOnce) {
    PendingRequest request;
    KeInitializeDpc(&request.dpc, PendingRequest::CompleteFromDpc, &request);
    PDEVICE_OBJECT device = driver.CreateDevice([&](PDEVICE_OBJECT, PIRP irp) {
        irp->Tail.Overlay.DriverContext[0] = &request;
        IoMarkIrpPending(irp);
        request.irp = irp;
        IoSetCancelRoutine(irp, PendingRequest::Cancel);
        if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
            ++request.completions;
            CompleteIrp(irp, STATUS_CANCELLED);
        } else {
            KeInsertQueueDpc(&request.dpc, nullptr, nullptr);
        }
        return STATUS_PENDING;
    });
    // A driver-allocated IRP whose completion routine keeps it, so the canceller
    // may still touch it after a completion that won the race.
    PIRP irp = IoAllocateIrp(device->StackSize, FALSE);
    Reusable finished;
    int cancelled = 0;
    for (int round = 0; round < 200; ++round) {
        request.completions = 0;
        KeInitializeEvent(&finished.done, NotificationEvent, FALSE);
        IoReuseIrp(irp, STATUS_SUCCESS);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_DEVICE_CONTROL;
        IoSetCompletionRoutine(
            irp,
            [](PDEVICE_OBJECT, PIRP, PVOID context) -> NTSTATUS {
                KeSetEvent(&static_cast<Reusable*>(context)->done, IO_NO_INCREMENT, FALSE);
                return STATUS_MORE_PROCESSING_REQUIRED;
            },
            &finished, TRUE, TRUE, TRUE);
        ASSERT_EQ(IoCallDriver(device, irp), STATUS_PENDING);
        IoCancelIrp(irp);
        KeWaitForSingleObject(&finished.done, Executive, KernelMode, FALSE, nullptr);
        sim::Settle();  // the DPC may still be on its way out
        EXPECT_EQ(request.completions, 1);
        const NTSTATUS status = irp->IoStatus.Status;
        ASSERT_TRUE(status == STATUS_SUCCESS || status == STATUS_CANCELLED);
        cancelled += status == STATUS_CANCELLED ? 1 : 0;
    }
    IoFreeIrp(irp);
    RecordProperty("cancelled", cancelled);
}

TEST_F(IrpTest, CancelWithoutCancelRoutineOnlyMarksTheIrp) {
    PIRP held = nullptr;
    PDEVICE_OBJECT device = driver.CreateDevice([&](PDEVICE_OBJECT, PIRP irp) {
        IoMarkIrpPending(irp);
        held = irp;
        return STATUS_PENDING;
    });
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status{};
    PIRP irp = IoBuildDeviceIoControlRequest(kEcho, device, nullptr, 0, nullptr, 0, FALSE, &event,
                                             &status);
    EXPECT_EQ(IoCallDriver(device, irp), STATUS_PENDING);
    EXPECT_FALSE(IoCancelIrp(irp));
    EXPECT_TRUE(held->Cancel);
    CompleteIrp(held, STATUS_CANCELLED);
    EXPECT_EQ(KeReadStateEvent(&event), 1);
    EXPECT_EQ(status.Status, STATUS_CANCELLED);

    // An IRP not sent yet has no current stack location: its cancel routine gets
    // no device object.
    static PDEVICE_OBJECT seen;
    seen = device;
    PIRP unsent = IoAllocateIrp(1, FALSE);
    IoSetCancelRoutine(unsent, [](PDEVICE_OBJECT cancelled, PIRP irp) {
        seen = cancelled;
        IoReleaseCancelSpinLock(irp->CancelIrql);
    });
    EXPECT_TRUE(IoCancelIrp(unsent));
    EXPECT_EQ(seen, nullptr);
    IoFreeIrp(unsent);
}

TEST_F(IrpTest, UnhandledMajorFunctionIsAnsweredByTheIoManager) {
    PDEVICE_OBJECT device = driver.CreateDevice();
    driver.Object()->MajorFunction[IRP_MJ_FLUSH_BUFFERS] = nullptr;
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status{};
    PIRP irp = IoBuildSynchronousFsdRequest(IRP_MJ_FLUSH_BUFFERS, device, nullptr, 0, nullptr,
                                            &event, &status);
    EXPECT_EQ(IoCallDriver(device, irp), STATUS_INVALID_DEVICE_REQUEST);
    EXPECT_EQ(status.Status, STATUS_INVALID_DEVICE_REQUEST);
    driver.Object()->MajorFunction[IRP_MJ_FLUSH_BUFFERS] = kernel_test::TestDispatch;
}

}  // namespace
