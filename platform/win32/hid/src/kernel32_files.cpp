// CreateFileA, ReadFile, WriteFile, CancelIo, GetOverlappedResult and
// CloseHandle over the simulated HID devices. The simulation keeps one input
// queue per device (the platform keeps one per handle): each report is read
// once, by whichever handle reads first.
#include <strings.h>
#include <algorithm>
#include <cstring>

#include "hid_state.h"

using namespace win32sim;
using namespace win32sim::detail;

namespace {

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

DWORD ErrorOfStatus(ULONG_PTR status) {
    switch (status) {
        case kStatusSuccess:
            return ERROR_SUCCESS;
        case kStatusCancelled:
            return ERROR_OPERATION_ABORTED;
        case kStatusDeviceNotConnected:
            return ERROR_DEVICE_NOT_CONNECTED;
        default:
            return ERROR_GEN_FAILURE;
    }
}

std::size_t FindPending(const HidState& state, const OVERLAPPED* overlapped) {
    for (std::size_t i = 0; i < state.pendingReads.size(); ++i) {
        if (state.pendingReads[i].overlapped == overlapped) return i;
    }
    return state.pendingReads.size();
}

void CancelReadsOf(HidState& state, HANDLE file) {
    for (std::size_t i = 0; i < state.pendingReads.size();) {
        if (state.pendingReads[i].file == file) {
            CompleteRead(state, i, kStatusCancelled, 0);
        } else {
            ++i;
        }
    }
}

void SignalEventOf(HidState& state, const OVERLAPPED* overlapped) {
    if (overlapped == nullptr || overlapped->hEvent == nullptr) return;
    if (Object* event = FindObject(state, overlapped->hEvent, ObjectKind::Event, "ReadFile")) {
        event->signalled = true;
    }
}

BOOL StartOverlappedRead(HidState& state, HANDLE file, Object& object, BYTE* buffer, DWORD length,
                         LPDWORD bytesRead, OVERLAPPED* overlapped) {
    if (overlapped == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (FindPending(state, overlapped) != state.pendingReads.size()) {
        AddViolation(state, "ReadFile: OVERLAPPED record reused while its read is pending");
        return Fail(ERROR_INVALID_PARAMETER);
    }
    if (overlapped->hEvent != nullptr) {
        Object* event = FindObject(state, overlapped->hEvent, ObjectKind::Event, "ReadFile");
        if (event == nullptr) return Fail(ERROR_INVALID_HANDLE);
        event->signalled = false;  // the platform resets the event when the read starts
    }
    overlapped->Internal = STATUS_PENDING;
    overlapped->InternalHigh = 0;
    state.pendingReads.push_back(PendingRead{file, object.device, overlapped, buffer, length});
    PumpReads(state);
    if (FindPending(state, overlapped) != state.pendingReads.size()) {
        return Fail(ERROR_IO_PENDING);
    }
    if (bytesRead != nullptr) *bytesRead = static_cast<DWORD>(overlapped->InternalHigh);
    if (overlapped->Internal != kStatusSuccess) return Fail(ErrorOfStatus(overlapped->Internal));
    return TRUE;
}

}  // namespace

EXTERN_C HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD, DWORD,
                                   LPSECURITY_ATTRIBUTES securityAttributes,
                                   DWORD creationDisposition, DWORD flagsAndAttributes, HANDLE) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    if (securityAttributes != nullptr &&
        securityAttributes->nLength != sizeof(SECURITY_ATTRIBUTES)) {
        AddViolation(state, "CreateFileA: SECURITY_ATTRIBUTES.nLength is not its size");
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    if (fileName == nullptr || creationDisposition != OPEN_EXISTING) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return INVALID_HANDLE_VALUE;
    }
    for (std::size_t i = 0; i < state.devices.size(); ++i) {
        Device& device = state.devices[i];
        if (!device.present || strcasecmp(device.path.c_str(), fileName) != 0) continue;
        DeviceId id = static_cast<DeviceId>(i);
        if (ShouldFail(state, Call::CreateFile, id)) break;
        HANDLE handle = NewHandleValue(state);
        Object object;
        object.kind = ObjectKind::File;
        object.device = id;
        object.overlapped = (flagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0;
        state.objects.emplace(handle, object);
        ++device.opens;
        return handle;
    }
    SetLastError(ERROR_FILE_NOT_FOUND);
    return INVALID_HANDLE_VALUE;
}

EXTERN_C BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD numberOfBytesToRead,
                              LPDWORD numberOfBytesRead, LPOVERLAPPED overlapped) {
    HidState& state = State();
    std::unique_lock lock(state.mutex);
    Object* object = FindObject(state, file, ObjectKind::File, "ReadFile");
    if (object == nullptr) return Fail(ERROR_INVALID_HANDLE);
    Device& device = *FindDevice(state, object->device);
    if (numberOfBytesRead != nullptr) *numberOfBytesRead = 0;
    if (!device.present) return Fail(ERROR_DEVICE_NOT_CONNECTED);
    if (ShouldFail(state, Call::ReadFile, object->device)) return Fail(ERROR_GEN_FAILURE);
    if (buffer == nullptr || device.description.inputReportLength == 0 ||
        numberOfBytesToRead < device.description.inputReportLength) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    BYTE* bytes = static_cast<BYTE*>(buffer);
    if (object->overlapped) {
        return StartOverlappedRead(state, file, *object, bytes, numberOfBytesToRead,
                                   numberOfBytesRead, overlapped);
    }
    // A synchronous handle: the call returns when a report has arrived.
    DeviceId id = object->device;
    std::optional<DWORD> count;
    bool arrived = BlockUntil(state, lock, id, [&] {
        Device& current = *FindDevice(state, id);
        if (!current.present) return true;
        count = TakeDueReport(state, current, bytes, numberOfBytesToRead);
        return count.has_value();
    });
    if (!arrived) return Fail(ERROR_POSSIBLE_DEADLOCK);
    if (!count) return Fail(ERROR_DEVICE_NOT_CONNECTED);
    if (overlapped != nullptr) {
        overlapped->Internal = kStatusSuccess;
        overlapped->InternalHigh = *count;
        SignalEventOf(state, overlapped);
    }
    if (numberOfBytesRead != nullptr) *numberOfBytesRead = *count;
    return TRUE;
}

EXTERN_C BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD numberOfBytesToWrite,
                               LPDWORD numberOfBytesWritten, LPOVERLAPPED) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    if (numberOfBytesWritten != nullptr) *numberOfBytesWritten = 0;
    Object* object = FindObject(state, file, ObjectKind::File, "WriteFile");
    if (object == nullptr) return Fail(ERROR_INVALID_HANDLE);
    Device& device = *FindDevice(state, object->device);
    if (!device.present) return Fail(ERROR_DEVICE_NOT_CONNECTED);
    if (ShouldFail(state, Call::WriteFile, object->device)) return Fail(ERROR_GEN_FAILURE);
    if (buffer == nullptr || device.description.outputReportLength == 0 ||
        numberOfBytesToWrite != device.description.outputReportLength) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    const BYTE* bytes = static_cast<const BYTE*>(buffer);
    device.writtenOutputReports.emplace_back(bytes, bytes + numberOfBytesToWrite);
    if (numberOfBytesWritten != nullptr) *numberOfBytesWritten = numberOfBytesToWrite;
    return TRUE;
}

EXTERN_C BOOL WINAPI CancelIo(HANDLE file) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    if (FindObject(state, file, ObjectKind::File, "CancelIo") == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    CancelReadsOf(state, file);
    return TRUE;
}

EXTERN_C BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped,
                                         LPDWORD numberOfBytesTransferred, BOOL wait) {
    HidState& state = State();
    std::unique_lock lock(state.mutex);
    Object* object = FindObject(state, file, ObjectKind::File, "GetOverlappedResult");
    if (object == nullptr || overlapped == nullptr) return Fail(ERROR_INVALID_HANDLE);
    auto isDone = [&] { return FindPending(state, overlapped) == state.pendingReads.size(); };
    if (!isDone()) {
        if (!wait) return Fail(ERROR_IO_INCOMPLETE);
        if (!BlockUntil(state, lock, object->device, isDone)) return Fail(ERROR_POSSIBLE_DEADLOCK);
    }
    if (numberOfBytesTransferred != nullptr) {
        *numberOfBytesTransferred = static_cast<DWORD>(overlapped->InternalHigh);
    }
    if (overlapped->Internal != kStatusSuccess) return Fail(ErrorOfStatus(overlapped->Internal));
    return TRUE;
}

EXTERN_C BOOL WINAPI CloseHandle(HANDLE handle) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    auto it = state.objects.find(handle);
    if (it == state.objects.end()) {
        AddViolation(state, "CloseHandle: handle is not open");
        return Fail(ERROR_INVALID_HANDLE);
    }
    // Closing a file ends its pending reads, as closing the last handle does.
    if (it->second.kind == ObjectKind::File) CancelReadsOf(state, handle);
    state.objects.erase(handle);
    return TRUE;
}
