// The file API against a small device: open by link name, synchronous and
// overlapped reads that a timer completes, cancellation, control requests,
// and the cleanup/close sequence of CloseHandle.
#include "win32/fileapi.h"

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>

#include "sim/faults.h"
#include "sim/io.h"
#include "sim/irp_log.h"
#include "sim/irp_log_on_failure.h"
#include "sim/system.h"
#include "wdm.h"

namespace {

using namespace win32;

constexpr ULONG kUpper = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x900, METHOD_BUFFERED, FILE_ANY_ACCESS);

// A device whose reads wait 50 ms (a kernel timer) and then return "data";
// reads are cancellable, writes are counted, the control code upper-cases.
struct SlowDevice {
    KSPIN_LOCK lock;
    PIRP pendingRead = nullptr;
    KTIMER timer;
    KDPC dpc;
    ULONG bytesWritten = 0;
    bool refuseOpen = false;

    static SlowDevice& Of(PDEVICE_OBJECT device) {
        return *static_cast<SlowDevice*>(device->DeviceExtension);
    }
    static NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
        irp->IoStatus.Status = status;
        irp->IoStatus.Information = information;
        IoCompleteRequest(irp, IO_NO_INCREMENT);
        return status;
    }
    // Takes the pending read back from whoever else might complete it.
    PIRP TakeRead() {
        KIRQL old;
        KeAcquireSpinLock(&lock, &old);
        PIRP irp = pendingRead;
        if (irp != nullptr && IoSetCancelRoutine(irp, nullptr) == nullptr) irp = nullptr;
        if (irp != nullptr) pendingRead = nullptr;
        KeReleaseSpinLock(&lock, old);
        return irp;
    }
    static VOID TimerExpired(PKDPC, PVOID context, PVOID, PVOID) {
        auto* self = static_cast<SlowDevice*>(context);
        if (PIRP irp = self->TakeRead()) {
            std::memcpy(irp->AssociatedIrp.SystemBuffer, "data", 4);
            Complete(irp, STATUS_SUCCESS, 4);
        }
    }
    static VOID CancelRead(PDEVICE_OBJECT device, PIRP irp) {
        IoReleaseCancelSpinLock(irp->CancelIrql);
        SlowDevice& self = Of(device);
        KIRQL old;
        KeAcquireSpinLock(&self.lock, &old);
        if (self.pendingRead == irp) self.pendingRead = nullptr;
        KeReleaseSpinLock(&self.lock, old);
        KeCancelTimer(&self.timer);
        Complete(irp, STATUS_CANCELLED, 0);
    }
    static NTSTATUS Dispatch(PDEVICE_OBJECT device, PIRP irp) {
        SlowDevice& self = Of(device);
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        switch (stack->MajorFunction) {
            case IRP_MJ_CREATE:
                return Complete(irp, self.refuseOpen ? STATUS_ACCESS_DENIED : STATUS_SUCCESS, 0);
            case IRP_MJ_READ: {
                if (stack->Parameters.Read.Length < 4)
                    return Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
                IoMarkIrpPending(irp);
                KIRQL old;
                KeAcquireSpinLock(&self.lock, &old);
                self.pendingRead = irp;
                IoSetCancelRoutine(irp, CancelRead);
                KeReleaseSpinLock(&self.lock, old);
                LARGE_INTEGER due;
                due.QuadPart = -500000;  // 50 ms
                KeSetTimer(&self.timer, due, &self.dpc);
                return STATUS_PENDING;
            }
            case IRP_MJ_WRITE:
                self.bytesWritten += stack->Parameters.Write.Length;
                return Complete(irp, STATUS_SUCCESS, stack->Parameters.Write.Length);
            case IRP_MJ_DEVICE_CONTROL: {
                if (stack->Parameters.DeviceIoControl.IoControlCode != kUpper) {
                    return Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
                }
                auto* text = static_cast<char*>(irp->AssociatedIrp.SystemBuffer);
                const ULONG count = std::min(stack->Parameters.DeviceIoControl.InputBufferLength,
                                             stack->Parameters.DeviceIoControl.OutputBufferLength);
                for (ULONG i = 0; i < count; ++i)
                    text[i] = static_cast<char>(std::toupper(text[i]));
                return Complete(irp, STATUS_SUCCESS, count);
            }
            default:
                return Complete(irp, STATUS_SUCCESS, 0);
        }
    }
};

NTSTATUS Entry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    for (auto& entry : driver->MajorFunction) entry = SlowDevice::Dispatch;
    return STATUS_SUCCESS;
}

UNICODE_STRING Unicode(const char16_t* text) {
    UNICODE_STRING string;
    string.Buffer = const_cast<PWSTR>(text);
    string.Length = static_cast<USHORT>(std::char_traits<char16_t>::length(text) * 2);
    string.MaximumLength = string.Length;
    return string;
}

class FileApiTest : public ::testing::Test {
  protected:
    void SetUp() override {
        driver = sim::LoadDriver(u"\\Driver\\Slow", Entry, u"\\Registry\\Machine\\Slow");
        UNICODE_STRING name = Unicode(u"\\Device\\Slow0");
        ASSERT_EQ(IoCreateDevice(driver, sizeof(SlowDevice), &name, FILE_DEVICE_UNKNOWN, 0, FALSE,
                                 &device),
                  STATUS_SUCCESS);
        slow = new (device->DeviceExtension) SlowDevice;
        KeInitializeSpinLock(&slow->lock);
        KeInitializeTimer(&slow->timer);
        KeInitializeDpc(&slow->dpc, SlowDevice::TimerExpired, slow);
        device->Flags |= DO_BUFFERED_IO;
        device->Flags &= ~DO_DEVICE_INITIALIZING;
        UNICODE_STRING link = Unicode(u"\\DosDevices\\SLOW1");
        ASSERT_EQ(IoCreateSymbolicLink(&link, &name), STATUS_SUCCESS);
    }
    void TearDown() override {
        sim::Settle();  // a close may still be on its way from a worker
        UNICODE_STRING link = Unicode(u"\\DosDevices\\SLOW1");
        IoDeleteSymbolicLink(&link);
        KeCancelTimer(&slow->timer);
        IoDeleteDevice(device);
        sim::UnloadDriver(driver);
    }

    sim::System system;
    PDRIVER_OBJECT driver = nullptr;
    PDEVICE_OBJECT device = nullptr;
    SlowDevice* slow = nullptr;
};

TEST_F(FileApiTest, OpenFailuresComeBackAsWin32Errors) {
    EXPECT_EQ(CreateFileW(u"\\\\.\\NOSUCH", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(LastNtStatus(), STATUS_OBJECT_NAME_NOT_FOUND);
    slow->refuseOpen = true;
    EXPECT_EQ(CreateFileW(u"\\\\.\\SLOW1", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr),
              INVALID_HANDLE_VALUE);
    EXPECT_EQ(GetLastError(), ERROR_ACCESS_DENIED);
}

TEST_F(FileApiTest, SynchronousReadBlocksUntilTheDeviceTimerCompletesIt) {
    sim::SetAutoAdvance(true);
    HANDLE file = CreateFileW(u"\\\\.\\SLOW1", GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    const ULONGLONG start = sim::Now();
    char buffer[8] = {};
    DWORD read = 0;
    EXPECT_TRUE(ReadFile(file, buffer, sizeof buffer, &read, nullptr));
    EXPECT_EQ(read, 4u);
    EXPECT_EQ(std::string(buffer, 4), "data");
    EXPECT_GE(sim::Now() - start, 500000u);  // the clock moved to the timer's tick
    EXPECT_FALSE(ReadFile(file, buffer, 2, &read, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INSUFFICIENT_BUFFER);
    EXPECT_FALSE(ReadFile(file, nullptr, 8, &read, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOACCESS);

    DWORD written = 0;
    EXPECT_TRUE(WriteFile(file, "abc", 3, &written, nullptr));
    EXPECT_EQ(written, 3u);
    char text[6] = "hello";
    DWORD returned = 0;
    EXPECT_TRUE(DeviceIoControl(file, kUpper, text, 5, text, 5, &returned, nullptr));
    EXPECT_EQ(std::string(text, returned), "HELLO");
    EXPECT_FALSE(DeviceIoControl(file, 0x1234, nullptr, 0, nullptr, 0, &returned, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_FUNCTION);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_FALSE(CloseHandle(file));
    EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
}

TEST_F(FileApiTest, OverlappedReadCompletesLaterOrIsCancelled) {
    HANDLE file = CreateFileW(u"\\\\.\\SLOW1", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    ASSERT_NE(file, INVALID_HANDLE_VALUE);
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    char buffer[4];
    DWORD read = 0;
    EXPECT_FALSE(ReadFile(file, buffer, sizeof buffer, &read, &overlapped));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    EXPECT_FALSE(GetOverlappedResult(file, &overlapped, &read, FALSE));
    EXPECT_EQ(GetLastError(), ERROR_IO_INCOMPLETE);
    sim::AdvanceTimeMs(70);  // 50 ms rounds up to 4 ticks (62.5 ms)
    EXPECT_EQ(WaitForSingleObject(event, 0), WAIT_OBJECT_0);
    EXPECT_TRUE(GetOverlappedResult(file, &overlapped, &read, FALSE));
    EXPECT_EQ(read, 4u);

    // The second read is cancelled before its timer.
    EXPECT_FALSE(ReadFile(file, buffer, sizeof buffer, &read, &overlapped));
    EXPECT_TRUE(CancelIo(file));
    EXPECT_FALSE(GetOverlappedResult(file, &overlapped, &read, TRUE));
    EXPECT_EQ(GetLastError(), ERROR_OPERATION_ABORTED);
    EXPECT_EQ(LastNtStatus(), STATUS_CANCELLED);
    // Nothing is left to cancel; CancelIo still succeeds.
    EXPECT_FALSE(CancelIoEx(file, nullptr));
    EXPECT_EQ(GetLastError(), ERROR_NOT_FOUND);
    EXPECT_TRUE(CancelIo(file));

    // With an auto-reset event the caller has already waited on, the result is
    // still there, with or without waiting.
    HANDLE autoReset = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    overlapped = OVERLAPPED{};
    overlapped.hEvent = autoReset;
    EXPECT_FALSE(ReadFile(file, buffer, sizeof buffer, &read, &overlapped));
    EXPECT_EQ(GetLastError(), ERROR_IO_PENDING);
    sim::AdvanceTimeMs(70);
    EXPECT_EQ(WaitForSingleObject(autoReset, 0), WAIT_OBJECT_0);
    read = 0;
    EXPECT_TRUE(GetOverlappedResult(file, &overlapped, &read, FALSE));
    EXPECT_EQ(read, 4u);
    read = 0;
    EXPECT_TRUE(GetOverlappedResult(file, &overlapped, &read, TRUE));
    EXPECT_EQ(read, 4u);
    EXPECT_TRUE(CloseHandle(file));
    EXPECT_TRUE(CloseHandle(event));
    EXPECT_TRUE(CloseHandle(autoReset));
}

TEST_F(FileApiTest, CloseHandleSendsCleanupAndThenCloseAfterTheLastRequest) {
    sim::EnableIrpLog(true);
    HANDLE file = CreateFileW(u"\\\\.\\SLOW1", GENERIC_READ, 0, nullptr, OPEN_EXISTING,
                              FILE_FLAG_OVERLAPPED, nullptr);
    OVERLAPPED overlapped{};
    char buffer[4];
    EXPECT_FALSE(ReadFile(file, buffer, sizeof buffer, nullptr, &overlapped));
    EXPECT_TRUE(CloseHandle(file));  // the read is still pending: no close yet
    auto majors = [] {
        std::string sequence;
        for (const auto& entry : sim::IrpLogEntries()) {
            if (entry.kind == sim::IrpLogEntry::Kind::Dispatch) {
                sequence += std::to_string(entry.majorFunction) + " ";
            }
        }
        return sequence;
    };
    EXPECT_EQ(majors(), "0 3 18 ");    // create, read, cleanup
    sim::AdvanceTimeMs(70);            // 50 ms rounds up to 4 ticks (62.5 ms)
    EXPECT_EQ(majors(), "0 3 18 2 ");  // close once the read finished
}

TEST_F(FileApiTest, FailingEachAllocationInTurnLeavesAConsistentSystem) {
    auto scenario = [] {
        HANDLE file =
            CreateFileW(u"\\\\.\\SLOW1", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return GetLastError();
        char text[4] = "abc";
        DWORD returned = 0;
        const BOOL ok = DeviceIoControl(file, kUpper, text, 3, text, 3, &returned, nullptr);
        const DWORD error = ok ? ERROR_SUCCESS : GetLastError();
        EXPECT_TRUE(CloseHandle(file));
        return error;
    };
    sim::ClearFaults();
    ASSERT_EQ(scenario(), ERROR_SUCCESS);
    for (const sim::FaultSite site : {sim::FaultSite::Irp, sim::FaultSite::Pool}) {
        const std::uint64_t points = sim::AllocationCalls(site);
        EXPECT_GT(points, 0u);
        for (std::uint64_t nth = 1; nth <= points; ++nth) {
            sim::ClearFaults();
            sim::AddFault({site, 0, nth, 1, 0.0});
            EXPECT_EQ(scenario(), ERROR_NO_SYSTEM_RESOURCES) << "allocation " << nth;
            sim::Settle();
            EXPECT_EQ(sim::PoolInUse().blocks, 0u);
        }
        sim::ClearFaults();
        ASSERT_EQ(scenario(), ERROR_SUCCESS);
    }
}

}  // namespace
