// A driver for the kernel's own tests: each device hands its IRPs to a handler
// the test chooses (by default: complete with STATUS_SUCCESS).
#pragma once

#include <functional>
#include <new>

#include "sim/io.h"
#include "sim/irp_log_on_failure.h"
#include "wdm.h"

namespace kernel_test {

using IrpHandler = std::function<NTSTATUS(PDEVICE_OBJECT, PIRP)>;

struct TestDevice {
    IrpHandler handler;
    PDEVICE_OBJECT lower = nullptr;
};

inline TestDevice& Extension(PDEVICE_OBJECT device) {
    return *static_cast<TestDevice*>(device->DeviceExtension);
}

inline NTSTATUS CompleteIrp(PIRP irp, NTSTATUS status, ULONG_PTR information = 0) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

inline NTSTATUS TestDispatch(PDEVICE_OBJECT device, PIRP irp) {
    auto& extension = Extension(device);
    if (extension.handler) return extension.handler(device, irp);
    return CompleteIrp(irp, STATUS_SUCCESS);
}

inline NTSTATUS TestDriverEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    for (auto& entry : driver->MajorFunction) entry = TestDispatch;
    return STATUS_SUCCESS;
}

inline UNICODE_STRING Unicode(const char16_t* text) {
    UNICODE_STRING string{};
    size_t length = 0;
    while (text[length] != 0) ++length;
    string.Buffer = const_cast<PWSTR>(text);
    string.Length = static_cast<USHORT>(length * sizeof(WCHAR));
    string.MaximumLength = string.Length;
    return string;
}

class TestDriver {
  public:
    TestDriver() {
        object_ = sim::LoadDriver(u"\\Driver\\KernelTest", TestDriverEntry,
                                  u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\"
                                  u"KernelTest");
    }
    ~TestDriver() {
        while (object_->DeviceObject != nullptr) DeleteDevice(object_->DeviceObject);
        sim::UnloadDriver(object_);
    }
    TestDriver(const TestDriver&) = delete;
    TestDriver& operator=(const TestDriver&) = delete;

    [[nodiscard]] PDRIVER_OBJECT Object() const { return object_; }

    PDEVICE_OBJECT CreateDevice(IrpHandler handler = {}, const char16_t* name = nullptr,
                                ULONG flags = DO_BUFFERED_IO) {
        UNICODE_STRING deviceName = name != nullptr ? Unicode(name) : UNICODE_STRING{};
        PDEVICE_OBJECT device = nullptr;
        const NTSTATUS status =
            IoCreateDevice(object_, sizeof(TestDevice), name != nullptr ? &deviceName : nullptr,
                           FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
        if (!NT_SUCCESS(status)) return nullptr;
        new (device->DeviceExtension) TestDevice{std::move(handler)};
        device->Flags |= flags;
        device->Flags &= ~DO_DEVICE_INITIALIZING;
        return device;
    }

    // Creates a device attached on top of `lower`'s stack.
    PDEVICE_OBJECT CreateFilter(PDEVICE_OBJECT lower, IrpHandler handler = {}) {
        PDEVICE_OBJECT device = CreateDevice(std::move(handler));
        Extension(device).lower = IoAttachDeviceToDeviceStack(device, lower);
        return device;
    }

    static void DeleteDevice(PDEVICE_OBJECT device) {
        if (Extension(device).lower != nullptr) IoDetachDevice(Extension(device).lower);
        Extension(device).~TestDevice();
        IoDeleteDevice(device);
    }

  private:
    PDRIVER_OBJECT object_;
};

// Sends a device-control request built by the I/O manager and waits for it.
inline NTSTATUS SendControl(PDEVICE_OBJECT device, ULONG code, void* input = nullptr,
                            ULONG inputLength = 0, void* output = nullptr, ULONG outputLength = 0,
                            ULONG_PTR* information = nullptr) {
    KEVENT event;
    KeInitializeEvent(&event, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status{};
    PIRP irp = IoBuildDeviceIoControlRequest(code, device, input, inputLength, output, outputLength,
                                             FALSE, &event, &status);
    if (irp == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    NTSTATUS result = IoCallDriver(device, irp);
    if (result == STATUS_PENDING) {
        KeWaitForSingleObject(&event, Executive, KernelMode, FALSE, nullptr);
        result = status.Status;
    }
    if (information != nullptr) *information = status.Information;
    return result;
}

}  // namespace kernel_test
