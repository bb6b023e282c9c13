// Test-side controls of the simulated user-mode platform: the table of
// simulated HID devices, the virtual clock, failing calls, and the counters
// and violations a test checks at its end. Code under test never includes
// this header.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace win32sim {

using Bytes = std::vector<std::uint8_t>;
using DeviceId = int;

struct HidDeviceDescription {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
    std::uint16_t versionNumber = 0x0100;
    // Report lengths as HIDP_CAPS gives them, report-id byte included.
    std::uint16_t inputReportLength = 0;
    std::uint16_t outputReportLength = 0;
    std::uint16_t featureReportLength = 0;
};

// Adds a present device at the end of the enumeration order.
DeviceId AddHidDevice(const HidDeviceDescription& description);
// Unplugs a device: it is no longer enumerated or opened, calls on its open
// handles fail with ERROR_DEVICE_NOT_CONNECTED and pending reads end so.
void RemoveHidDevice(DeviceId device);
// Plugs a removed device in again; its path stays the same.
void ReplugHidDevice(DeviceId device);
std::string DevicePath(DeviceId device);

// Input reports, byte 0 being the report id. Each report is read once, by
// whichever handle on the device reads first (the platform queues per
// handle); a read copies at most the reader's buffer length and leaves the
// rest of the buffer as it was.
void ScheduleInputReport(DeviceId device, Bytes report, std::uint64_t atMilliseconds);
void QueueInputReport(DeviceId device, Bytes report);  // arrives now
// Delivers a report from another thread, in real time, waking a blocked reader.
// Blocking waits with nothing scheduled wait for such a report only after
// AllowRealTimeArrivals(true); otherwise they fail at once as a deadlock.
void DeliverInputReportFromThread(DeviceId device, Bytes report);
void AllowRealTimeArrivals(bool allow);
// Returns once a thread waits in a blocking read or an infinite wait.
void WaitUntilReaderBlocked();

// Feature report the device answers HidD_GetFeature with (copied up to the
// caller's length); the reports it was sent and the output reports written.
void SetFeatureReport(DeviceId device, Bytes report);
std::vector<Bytes> SentFeatureReports(DeviceId device);
std::vector<Bytes> WrittenOutputReports(DeviceId device);

enum class Call {
    SetupDiGetClassDevs,
    SetupDiGetDeviceInterfaceDetail,
    CreateFile,
    HidD_GetAttributes,
    HidD_GetPreparsedData,
    HidP_GetCaps,
    HidD_SetFeature,
    HidD_GetFeature,
    ReadFile,
    WriteFile,
    WaitForSingleObject,
    CreateEvent,
};
// The next `count` calls of `call` fail (for the device, or any device).
inline constexpr DeviceId kAnyDevice = -1;
void FailCalls(Call call, int count = 1, DeviceId device = kAnyDevice);

// The virtual clock, in milliseconds. Waits move it: a timed wait to its
// time-out or the arrival that ends it, a blocking read to its report.
std::uint64_t NowMilliseconds();
void AdvanceClock(std::uint64_t milliseconds);

// Counters.
int OpenHandleCount();                 // files and events
int OpenHandleCount(DeviceId device);  // files on the device
int OpenCount(DeviceId device);        // CreateFileA successes on the device, ever
int OpenDeviceInfoSets();
int LivePreparsedData();
int PendingReadCount();
int LiveBstrCount();
int LiveErrorInfoCount();
int OpenRegistryKeyCount();
int LoadedLibraryCount();
int DeadlockCount();  // blocking calls that could never have returned

// Contract violations seen (closed or unknown handles used, strings freed
// twice, an OVERLAPPED record reused while its read is pending, ...).
std::vector<std::string> Violations();

// Back to an empty platform: no devices, clock 0, no faults, empty registry,
// counters and violations cleared. Loaded libraries stay loaded.
void Reset();

}  // namespace win32sim
