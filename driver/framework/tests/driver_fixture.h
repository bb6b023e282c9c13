// The framework loaded as the driver it is: DriverEntry, AddDevice and unload,
// with a bus driver of its own that owns the physical device objects. A test
// device class queues reads, writes and control requests, holds requests in a
// PendingIrpHolder and lets the test finish the current ones.
// Included by one source file per test program (it defines AddDevice).
#pragma once

#include <gtest/gtest.h>

#include <wdm.h>

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "framework/device_queue.h"
#include "framework/driver_entry.h"
#include "framework/driver_globals.h"
#include "framework/irp_helpers.h"
#include "framework/pending_irp_holder.h"
#include "framework/pnp_device.h"
#include "framework/pool.h"
#include "sim/io.h"
#include "sim/irp_log_on_failure.h"
#include "sim/registry.h"
#include "sim/system.h"
#include "win32/fileapi.h"

namespace framework::testing {

inline constexpr const char16_t* kServiceKey =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\zovusb";
inline constexpr ULONG kHoldControl =
    CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);

// A queued request as its start routine saw it.
struct Started {
    PIRP irp;
    KIRQL irql;
    ULONG_PTR startNumber;  // DriverContext[1]
    LONGLONG offset;        // the caller's OVERLAPPED offset: who it was
};

class RecordingHolder : public PendingIrpHolder {
  public:
    std::atomic<int> before{0};
    std::atomic<int> after{0};

    // The hooks run in cancellations that may still be going on.
    ~RecordingHolder() override { Close(); }

  protected:
    void BeforeCancelComplete(PIRP irp, NTSTATUS status, ULONG_PTR) override {
        EXPECT_EQ(irp->IoStatus.Status, status);
        EXPECT_EQ(after.load(), before.load());
        ++before;
    }
    void AfterCancelComplete(PIRP, NTSTATUS, ULONG_PTR) override { ++after; }
};

// Reads go to queue 0, writes to queue 1, other control requests to queue 2
// (DPC policy for all unless told otherwise); kHoldControl requests to the
// holder. Cleanup cancels the file's waiting and held requests.
class QueueDevice : public DeviceObjectBase {
  public:
    QueueDevice(const DeviceCreation& creation, ULONG queueCount, StartPolicy policy)
        : DeviceObjectBase(creation) {
        CreateQueues(queueCount,
                     [&](ULONG) { return new DeviceQueue(this, &QueueDevice::OnStart, policy); });
    }

    NTSTATUS DispatchCreate(PIRP irp) override {
        lastOpenedFile = IoGetCurrentIrpStackLocation(irp)->FileObject;
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    NTSTATUS DispatchClose(PIRP irp) override { return Complete(irp, STATUS_SUCCESS, 0); }
    NTSTATUS DispatchCleanup(PIRP irp) override {
        CleanupAll(IoGetCurrentIrpStackLocation(irp)->FileObject, STATUS_CANCELLED);
        return Complete(irp, STATUS_SUCCESS, 0);
    }
    NTSTATUS DispatchRead(PIRP irp) override {
        if (DeviceQueue* queue = spareQueue.load()) {
            IoMarkIrpPending(irp);
            queue->QueueRequest(irp);
            return STATUS_PENDING;
        }
        return Enqueue(0, irp);
    }
    NTSTATUS DispatchWrite(PIRP irp) override { return Enqueue(1, irp); }
    NTSTATUS DispatchDeviceControl(PIRP irp) override {
        if (IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode ==
            kHoldControl) {
            const NTSTATUS status = holder.Hold(irp);
            return status == STATUS_PENDING ? status : Complete(irp, status, 0);
        }
        return Enqueue(2, irp);
    }
    ~QueueDevice() override {
        deleted.emplace_back(DeviceName().Text(), DeviceName().LengthInCharacters());
    }
    NTSTATUS CreateLink(const WCHAR* linkName) {
        CountedString target;
        target.Assign(DeviceName());
        return symbolicLink_.Create(linkName, target.Get());
    }
    void CancelOwnRequests() override { ++cancelOwnRequestsCalls; }
    [[nodiscard]] bool DeleteFirstOnUnload() override { return deleteFirst; }

    // Reads go to a queue of their own (stalled, DPC policy) until it is deleted.
    void CreateSpareQueue() {
        spareQueue = new DeviceQueue(this, &QueueDevice::OnStart, StartPolicy::Dpc);
    }
    void DeleteSpareQueue() { delete spareQueue.exchange(nullptr); }

    // Completes queue `index`'s current request and gives it up.
    void FinishCurrent(ULONG index, NTSTATUS status = STATUS_SUCCESS) {
        PIRP irp = Queue(index)->CurrentIrp();
        ASSERT_NE(irp, nullptr);
        (void)Complete(irp, status, 0);
        Queue(index)->GiveUpCurrent();
    }
    [[nodiscard]] std::vector<Started> StartedRequests() {
        std::lock_guard guard(mutex_);
        return started_;
    }

    RecordingHolder holder;
    std::atomic<DeviceQueue*> spareQueue{nullptr};
    std::atomic<int> cancelOwnRequestsCalls{0};
    bool deleteFirst = false;
    PFILE_OBJECT lastOpenedFile = nullptr;
    static inline std::vector<std::u16string> deleted;

  private:
    NTSTATUS Enqueue(ULONG index, PIRP irp) {
        IoMarkIrpPending(irp);
        Queue(index)->QueueRequest(irp);
        return STATUS_PENDING;
    }
    VOID OnStart(PIRP irp) {
        std::lock_guard guard(mutex_);
        started_.push_back(
            {irp, KeGetCurrentIrql(),
             reinterpret_cast<ULONG_PTR>(irp->Tail.Overlay.DriverContext[1]),
             IoGetCurrentIrpStackLocation(irp)->Parameters.Read.ByteOffset.QuadPart});
    }

    std::mutex mutex_;
    std::vector<Started> started_;
};

// What AddDevice builds on a physical device: a function device whose
// Initialize can be made to fail.
class TestFunctionDevice : public PnpDevice {
  public:
    TestFunctionDevice(const DeviceCreation& creation, PDEVICE_OBJECT physicalDevice)
        : PnpDevice(creation, physicalDevice) {
        if (raiseInConstructor != STATUS_SUCCESS) ExRaiseStatus(raiseInConstructor);
        CreateQueues(1, [&](ULONG) {
            return new DeviceQueue(this, &TestFunctionDevice::OnStart, StartPolicy::Passive);
        });
    }
    [[nodiscard]] NTSTATUS Initialize() override {
        const NTSTATUS status = PnpDevice::Initialize();
        return NT_SUCCESS(status) ? initializeStatus : status;
    }
    VOID OnStart(PIRP) {}

    static inline NTSTATUS raiseInConstructor = STATUS_SUCCESS;
    static inline NTSTATUS initializeStatus = STATUS_SUCCESS;
    static inline TestFunctionDevice* last = nullptr;
};

}  // namespace framework::testing

namespace framework {

NTSTATUS AddDevice(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT physicalDeviceObject) {
    testing::TestFunctionDevice* device = nullptr;
    const NTSTATUS status = CreateDeviceAndInitialize(&device, driverObject, CountedString(),
                                                      FILE_DEVICE_UNKNOWN, 0, physicalDeviceObject);
    testing::TestFunctionDevice::last = device;
    return status;
}

}  // namespace framework

namespace framework::testing {

inline NTSTATUS BusDispatch(PDEVICE_OBJECT, PIRP irp) {
    return Complete(irp, STATUS_NOT_SUPPORTED, 0);
}

inline NTSTATUS BusEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    for (auto& entry : driver->MajorFunction) entry = &BusDispatch;
    return STATUS_SUCCESS;
}

class DriverTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::registry::Reset();
        TestFunctionDevice::raiseInConstructor = STATUS_SUCCESS;
        TestFunctionDevice::initializeStatus = STATUS_SUCCESS;
        bus_ = sim::LoadDriver(u"\\Driver\\zovbus", &BusEntry, u"");
        ASSERT_NE(bus_, nullptr);
    }
    void TearDown() override {
        sim::Settle();
        UnloadFramework();
        while (bus_ != nullptr && bus_->DeviceObject != nullptr) IoDeleteDevice(bus_->DeviceObject);
        if (bus_ != nullptr) sim::UnloadDriver(bus_);
        EXPECT_TRUE(sim::registry::OpenHandles().empty());
    }

    NTSTATUS LoadFramework(const char16_t* serviceKey = kServiceKey) {
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        driver_ = sim::LoadDriver(u"\\Driver\\zovusb", &DriverEntry, serviceKey, &status);
        return status;
    }
    void UnloadFramework() {
        if (driver_ != nullptr) sim::UnloadDriver(driver_);
        driver_ = nullptr;
    }

    PDEVICE_OBJECT CreatePhysicalDevice() {
        PDEVICE_OBJECT pdo = nullptr;
        EXPECT_EQ(IoCreateDevice(bus_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &pdo),
                  STATUS_SUCCESS);
        if (pdo != nullptr) pdo->Flags &= ~DO_DEVICE_INITIALIZING;
        return pdo;
    }

    // A named queue device with a DOS link, opened through the file API.
    QueueDevice* CreateQueueDevice(ULONG queueCount = 3, StartPolicy policy = StartPolicy::Dpc,
                                   const char16_t* name = u"\\Device\\ZovQueueTest") {
        QueueDevice* device = nullptr;
        CountedString deviceName(name);
        EXPECT_EQ(CreateDeviceAndInitialize(&device, driver_, deviceName, FILE_DEVICE_UNKNOWN, 0,
                                            queueCount, policy),
                  STATUS_SUCCESS);
        return device;
    }

    sim::System system_;
    PDRIVER_OBJECT bus_ = nullptr;
    PDRIVER_OBJECT driver_ = nullptr;
};

// An overlapped request of the file API, with its own event.
class Request {
  public:
    Request() : event_(win32::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        overlapped_.hEvent = event_;
    }
    ~Request() { (void)win32::CloseHandle(event_); }
    Request(const Request&) = delete;
    Request& operator=(const Request&) = delete;

    // Issues a read (or write) whose stack location carries `offset`; true when
    // it is pending.
    bool Read(HANDLE file, ULONG offset) {
        overlapped_.Offset = offset;
        return !win32::ReadFile(file, buffer_, sizeof buffer_, nullptr, &overlapped_) &&
               win32::GetLastError() == win32::ERROR_IO_PENDING;
    }
    bool Write(HANDLE file) {
        return !win32::WriteFile(file, buffer_, sizeof buffer_, nullptr, &overlapped_) &&
               win32::GetLastError() == win32::ERROR_IO_PENDING;
    }
    bool Control(HANDLE file, ULONG code) {
        return !win32::DeviceIoControl(file, code, nullptr, 0, nullptr, 0, nullptr, &overlapped_) &&
               win32::GetLastError() == win32::ERROR_IO_PENDING;
    }
    [[nodiscard]] bool Done() const {
        return win32::WaitForSingleObject(event_, 0) == win32::WAIT_OBJECT_0;
    }
    // The final status once done; STATUS_PENDING while it is not.
    [[nodiscard]] NTSTATUS Status() const {
        return Done() ? static_cast<NTSTATUS>(overlapped_.Internal) : STATUS_PENDING;
    }
    [[nodiscard]] win32::LPOVERLAPPED Overlapped() { return &overlapped_; }

  private:
    HANDLE event_;
    win32::OVERLAPPED overlapped_{};
    char buffer_[4]{};
};

inline HANDLE Open(const char16_t* name = u"\\Device\\ZovQueueTest") {
    return win32::CreateFileW(name, win32::GENERIC_READ | win32::GENERIC_WRITE, 0, nullptr,
                              win32::OPEN_EXISTING, win32::FILE_FLAG_OVERLAPPED, nullptr);
}

}  // namespace framework::testing
