// Test-side view of the I/O manager.
#include "sim/io.h"

#include "internal/dispatcher.h"
#include "internal/error_log.h"
#include "internal/io_manager.h"
#include "internal/pool.h"
#include "internal/verifier.h"

namespace sim {

using namespace kernel::internal;

PDRIVER_OBJECT LoadDriver(std::u16string_view driverName, PDRIVER_INITIALIZE entry,
                          std::u16string_view serviceKeyPath, NTSTATUS* status) {
    // The service key name is the last component of the service key path.
    const size_t cut = serviceKeyPath.find_last_of(u'\\');
    const auto serviceName =
        cut == std::u16string_view::npos ? serviceKeyPath : serviceKeyPath.substr(cut + 1);
    PDRIVER_OBJECT driver = CreateDriverObject(driverName, serviceName);
    std::u16string path(serviceKeyPath);
    UNICODE_STRING registryPath{static_cast<USHORT>(path.size() * sizeof(WCHAR)),
                                static_cast<USHORT>(path.size() * sizeof(WCHAR)), path.data()};
    const NTSTATUS result = entry(driver, &registryPath);
    if (status != nullptr) *status = result;
    if (!NT_SUCCESS(result)) {
        FreeDriverObject(driver);
        return nullptr;
    }
    return driver;
}

void UnloadDriver(PDRIVER_OBJECT driver) {
    // Closes and work still on their way to the driver get there first, as the
    // platform unloads a driver only once nothing refers to it.
    Dispatcher::Instance().Settle();
    if (driver->DriverUnload != nullptr) driver->DriverUnload(driver);
    for (PDEVICE_OBJECT device = driver->DeviceObject; device != nullptr;
         device = device->NextDevice) {
        Violation violation{Rule::DeviceLeak,
                            bugcheck::DRIVER_UNLOADED_WITHOUT_CANCELLING_PENDING_OPERATIONS};
        violation.parameters[0] = reinterpret_cast<ULONG_PTR>(device);
        violation.routine = "driver unload";
        violation.message = "the driver was unloaded with a device object still present";
        violation.device = device;
        Report(violation);
    }
    FreeDriverObject(driver);
}

PDEVICE_OBJECT FindDevice(std::u16string_view name) {
    PDEVICE_OBJECT device = nullptr;
    std::u16string remainder;
    return NT_SUCCESS(LookupDevice(name, &device, &remainder)) ? device : nullptr;
}

std::u16string DeviceName(PDEVICE_OBJECT device) {
    return kernel::internal::DeviceName(device);
}

std::vector<SymbolicLink> SymbolicLinks() {
    std::vector<SymbolicLink> links;
    for (const LinkInfo& link : LiveLinks()) {
        if (link.device == nullptr) links.push_back({link.name, link.target});
    }
    return links;
}

std::vector<DeviceInterface> DeviceInterfaces() {
    std::vector<DeviceInterface> interfaces;
    for (const InterfaceInfo& info : Interfaces()) {
        interfaces.push_back({info.interfaceClass, info.physicalDevice, info.referenceString,
                              info.linkName, info.enabled});
    }
    return interfaces;
}

std::vector<ErrorLogEntry> ErrorLogEntries() {
    return WrittenErrorLogEntries();
}

PoolUsage PoolInUse(ULONG tag) {
    PoolUsage usage{0, 0};
    for (const PoolBlock& block : LivePoolBlocks()) {
        if (tag != 0 && block.tag != tag) continue;
        ++usage.blocks;
        usage.bytes += block.size;
    }
    return usage;
}

}  // namespace sim
