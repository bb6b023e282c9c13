// Test-side view of the I/O manager: loading drivers, the namespace, device
// interfaces, the error log and pool usage.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/io.h"

namespace sim {

// Creates a driver object named `driverName` and calls its entry point at
// PASSIVE_LEVEL with the service key path. NULL (and *status set) on failure.
[[nodiscard]] PDRIVER_OBJECT LoadDriver(std::u16string_view driverName, PDRIVER_INITIALIZE entry,
                                        std::u16string_view serviceKeyPath,
                                        NTSTATUS* status = nullptr);
// Calls the driver's unload routine, reports its devices that are still there
// (resource rule) and frees the driver object.
void UnloadDriver(PDRIVER_OBJECT driver);

// A device by its name or through symbolic links; NULL when there is none.
[[nodiscard]] PDEVICE_OBJECT FindDevice(std::u16string_view name);
[[nodiscard]] std::u16string DeviceName(PDEVICE_OBJECT device);

struct SymbolicLink {
    std::u16string name;
    std::u16string target;
};
[[nodiscard]] std::vector<SymbolicLink> SymbolicLinks();

struct DeviceInterface {
    GUID interfaceClass;
    PDEVICE_OBJECT physicalDevice;
    std::u16string referenceString;
    std::u16string linkName;
    bool enabled;
};
[[nodiscard]] std::vector<DeviceInterface> DeviceInterfaces();

struct ErrorLogEntry {
    PVOID ioObject;
    UCHAR majorFunctionCode;
    NTSTATUS errorCode;
    ULONG uniqueErrorValue;
    NTSTATUS finalStatus;
    ULONG sequenceNumber;
    ULONG ioControlCode;
    std::vector<std::uint8_t> dumpData;
    std::vector<std::u16string> strings;
};
[[nodiscard]] std::vector<ErrorLogEntry> ErrorLogEntries();

struct PoolUsage {
    size_t blocks;
    size_t bytes;
};
// Live pool of one tag (0 = all tags).
[[nodiscard]] PoolUsage PoolInUse(ULONG tag = 0);

}  // namespace sim
