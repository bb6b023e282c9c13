// The table of simulated HID devices, its test-side controls and the helpers
// the simulated kernel32, setupapi and hid calls share.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "hid_state.h"
#include "violations.h"

namespace win32sim {
namespace detail {

HidState& State() {
    static HidState state;
    return state;
}

HANDLE NewHandleValue(HidState& state) {
    // Values are never reused, so a closed handle stays recognisable.
    HANDLE handle = reinterpret_cast<HANDLE>(state.nextHandle);
    state.nextHandle += 4;
    return handle;
}

Device* FindDevice(HidState& state, DeviceId device) {
    if (device < 0 || static_cast<std::size_t>(device) >= state.devices.size()) return nullptr;
    return &state.devices[static_cast<std::size_t>(device)];
}

Object* FindObject(HidState& state, HANDLE handle, ObjectKind kind, const char* caller) {
    auto it = state.objects.find(handle);
    if (it == state.objects.end() || it->second.kind != kind) {
        char text[128];
        std::snprintf(text, sizeof text, "%s: handle %p is not an open %s", caller, handle,
                      kind == ObjectKind::File ? "file" : "event");
        AddViolation(state, text);
        return nullptr;
    }
    return &it->second;
}

bool ShouldFail(HidState& state, Call call, DeviceId device) {
    for (auto& rule : state.faults) {
        if (rule.call == call && rule.remaining > 0 &&
            (rule.device == kAnyDevice || rule.device == device)) {
            --rule.remaining;
            return true;
        }
    }
    return false;
}

void AddViolation(HidState&, std::string text) {
    RecordViolation(std::move(text));
}

std::optional<DWORD> TakeDueReport(HidState& state, Device& device, BYTE* buffer, DWORD length) {
    if (device.inputReports.empty() || device.inputReports.front().at > state.now) {
        return std::nullopt;
    }
    Bytes report = std::move(device.inputReports.front().report);
    device.inputReports.pop_front();
    DWORD count = static_cast<DWORD>(std::min<std::size_t>(report.size(), length));
    if (count > 0) std::memcpy(buffer, report.data(), count);
    return count;
}

std::optional<std::uint64_t> NextArrival(const HidState& state, DeviceId device) {
    if (device < 0 || static_cast<std::size_t>(device) >= state.devices.size()) return std::nullopt;
    const Device& entry = state.devices[static_cast<std::size_t>(device)];
    if (!entry.present || entry.inputReports.empty()) return std::nullopt;
    std::uint64_t at = entry.inputReports.front().at;
    if (at <= state.now) return std::nullopt;
    return at;
}

void CompleteRead(HidState& state, std::size_t index, ULONG_PTR status, DWORD transferred) {
    PendingRead read = state.pendingReads[index];
    state.pendingReads.erase(state.pendingReads.begin() + static_cast<std::ptrdiff_t>(index));
    read.overlapped->Internal = status;
    read.overlapped->InternalHigh = transferred;
    auto event = state.objects.find(read.overlapped->hEvent);
    if (event != state.objects.end() && event->second.kind == ObjectKind::Event) {
        event->second.signalled = true;
    }
    state.changed.notify_all();
}

void PumpReads(HidState& state) {
    for (std::size_t i = 0; i < state.pendingReads.size();) {
        PendingRead& read = state.pendingReads[i];
        Device* device = FindDevice(state, read.device);
        if (!device->present) {
            CompleteRead(state, i, kStatusDeviceNotConnected, 0);
            continue;
        }
        if (auto count = TakeDueReport(state, *device, read.buffer, read.length)) {
            CompleteRead(state, i, kStatusSuccess, *count);
            continue;
        }
        ++i;
    }
}

}  // namespace detail

using namespace detail;

namespace {

Device& DeviceOrDie(HidState& state, DeviceId device) {
    Device* entry = FindDevice(state, device);
    if (entry == nullptr) {
        std::fprintf(stderr, "win32sim: unknown device %d\n", device);
        std::abort();
    }
    return *entry;
}

void Schedule(HidState& state, Device& device, Bytes report, std::uint64_t at) {
    auto position = std::upper_bound(
        device.inputReports.begin(), device.inputReports.end(), at,
        [](std::uint64_t time, const ScheduledReport& entry) { return time < entry.at; });
    device.inputReports.insert(position, ScheduledReport{at, std::move(report)});
    PumpReads(state);
    state.changed.notify_all();
}

}  // namespace

DeviceId AddHidDevice(const HidDeviceDescription& description) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    DeviceId id = static_cast<DeviceId>(state.devices.size());
    Device device;
    device.description = description;
    char path[160];
    std::snprintf(path, sizeof path,
                  "\\\\?\\hid#vid_%04x&pid_%04x#7&%x&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",
                  description.vendorId, description.productId, 0x1000 + id);
    device.path = path;
    state.devices.push_back(std::move(device));
    return id;
}

void RemoveHidDevice(DeviceId device) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    DeviceOrDie(state, device).present = false;
    PumpReads(state);
}

void ReplugHidDevice(DeviceId device) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    DeviceOrDie(state, device).present = true;
}

std::string DevicePath(DeviceId device) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    return DeviceOrDie(state, device).path;
}

void ScheduleInputReport(DeviceId device, Bytes report, std::uint64_t atMilliseconds) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    Schedule(state, DeviceOrDie(state, device), std::move(report), atMilliseconds);
}

void QueueInputReport(DeviceId device, Bytes report) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    Schedule(state, DeviceOrDie(state, device), std::move(report), state.now);
}

void DeliverInputReportFromThread(DeviceId device, Bytes report) {
    QueueInputReport(device, report);
}

void AllowRealTimeArrivals(bool allow) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    state.realTimeArrivals = allow;
}

void WaitUntilReaderBlocked() {
    HidState& state = State();
    std::unique_lock lock(state.mutex);
    state.changed.wait(lock, [&] { return state.blockedThreads > 0; });
}

void SetFeatureReport(DeviceId device, Bytes report) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    DeviceOrDie(state, device).featureReport = std::move(report);
}

std::vector<Bytes> SentFeatureReports(DeviceId device) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    return DeviceOrDie(state, device).sentFeatureReports;
}

std::vector<Bytes> WrittenOutputReports(DeviceId device) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    return DeviceOrDie(state, device).writtenOutputReports;
}

void FailCalls(Call call, int count, DeviceId device) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    state.faults.push_back(FaultRule{call, count, device});
}

std::uint64_t NowMilliseconds() {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    return state.now;
}

void AdvanceClock(std::uint64_t milliseconds) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    state.now += milliseconds;
    PumpReads(state);
}

int OpenHandleCount() {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    return static_cast<int>(state.objects.size());
}

int OpenHandleCount(DeviceId device) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    return static_cast<int>(
        std::count_if(state.objects.begin(), state.objects.end(), [&](auto& entry) {
            return entry.second.kind == ObjectKind::File && entry.second.device == device;
        }));
}

int OpenCount(DeviceId device) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    return DeviceOrDie(state, device).opens;
}

int OpenDeviceInfoSets() {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    return static_cast<int>(state.deviceInfoSets.size());
}

int LivePreparsedData() {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    return static_cast<int>(state.preparsedData.size());
}

int PendingReadCount() {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    return static_cast<int>(state.pendingReads.size());
}

int DeadlockCount() {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    return state.deadlocks;
}

}  // namespace win32sim
