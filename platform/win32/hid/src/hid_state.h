// The shared state behind the simulated kernel32, setupapi and hid calls: the
// device table, the handle table, pending reads, the virtual clock and the
// fault rules, all under one lock.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "win32/api.h"
#include "win32/sim/hid_devices.h"

namespace win32sim::detail {

inline constexpr ULONG_PTR kStatusSuccess = 0;
inline constexpr ULONG_PTR kStatusCancelled = 0xC0000120;
inline constexpr ULONG_PTR kStatusDeviceNotConnected = 0xC000009D;

struct ScheduledReport {
    std::uint64_t at = 0;
    Bytes report;
};

struct Device {
    HidDeviceDescription description;
    std::string path;
    bool present = true;
    std::deque<ScheduledReport> inputReports;  // ordered by arrival time
    Bytes featureReport;
    std::vector<Bytes> sentFeatureReports;
    std::vector<Bytes> writtenOutputReports;
    int opens = 0;
};

enum class ObjectKind { File, Event };

struct Object {
    ObjectKind kind = ObjectKind::File;
    DeviceId device = -1;
    bool overlapped = false;
    bool manualReset = false;
    bool signalled = false;
};

struct PendingRead {
    HANDLE file = nullptr;
    DeviceId device = -1;
    OVERLAPPED* overlapped = nullptr;
    BYTE* buffer = nullptr;
    DWORD length = 0;
};

struct FaultRule {
    Call call;
    int remaining;
    DeviceId device;
};

struct HidState {
    std::mutex mutex;
    std::condition_variable changed;

    std::vector<Device> devices;
    std::map<HANDLE, Object> objects;
    std::map<HDEVINFO, std::vector<DeviceId>> deviceInfoSets;
    std::set<const void*> preparsedData;
    std::vector<PendingRead> pendingReads;  // in the order they were started
    std::vector<FaultRule> faults;
    std::uint64_t now = 0;
    ULONG_PTR nextHandle = 0x100;
    bool realTimeArrivals = false;
    int blockedThreads = 0;
    int deadlocks = 0;
};

HidState& State();

// All below expect State().mutex to be held.
HANDLE NewHandleValue(HidState& state);
Device* FindDevice(HidState& state, DeviceId device);
// The object behind a handle, or null (recording a violation) when the handle
// is unknown or closed.
Object* FindObject(HidState& state, HANDLE handle, ObjectKind kind, const char* caller);
bool ShouldFail(HidState& state, Call call, DeviceId device);
void AddViolation(HidState& state, std::string text);
// Completes the pending reads that a due report or a removed device ends.
void PumpReads(HidState& state);
void CompleteRead(HidState& state, std::size_t index, ULONG_PTR status, DWORD transferred);
// Copies the next due report of the device into the buffer; the byte count.
std::optional<DWORD> TakeDueReport(HidState& state, Device& device, BYTE* buffer, DWORD length);
// The arrival time of the device's next report after now, if one is scheduled.
std::optional<std::uint64_t> NextArrival(const HidState& state, DeviceId device);
// Blocks the calling thread until `done` holds. The virtual clock jumps to the
// next arrival on `device`; with nothing scheduled the wait is a deadlock,
// unless real-time arrivals are allowed. False on deadlock.
template <typename Done>
bool BlockUntil(HidState& state, std::unique_lock<std::mutex>& lock, DeviceId device, Done done);

}  // namespace win32sim::detail

#include "hid_state_wait.h"
