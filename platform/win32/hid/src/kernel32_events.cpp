// Events and WaitForSingleObject on the virtual clock. A wait on an event that
// a pending read will signal moves the clock to that read's report when it is
// due within the time-out, and otherwise to the end of the time-out.
#include "hid_state.h"

using namespace win32sim;
using namespace win32sim::detail;

namespace {

// The device whose next report ends a pending read that signals the event.
DeviceId DeviceSignalling(const HidState& state, HANDLE event) {
    for (const PendingRead& read : state.pendingReads) {
        if (read.overlapped->hEvent == event) return read.device;
    }
    return -1;
}

}  // namespace

EXTERN_C HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES eventAttributes, BOOL manualReset,
                                    BOOL initialState, LPCSTR name) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    if (eventAttributes != nullptr && eventAttributes->nLength != sizeof(SECURITY_ATTRIBUTES)) {
        AddViolation(state, "CreateEventA: SECURITY_ATTRIBUTES.nLength is not its size");
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    if ((name != nullptr && name[0] != '\0') || ShouldFail(state, Call::CreateEvent, kAnyDevice)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return nullptr;
    }
    HANDLE handle = NewHandleValue(state);
    Object object;
    object.kind = ObjectKind::Event;
    object.manualReset = manualReset != FALSE;
    object.signalled = initialState != FALSE;
    state.objects.emplace(handle, object);
    return handle;
}

EXTERN_C BOOL WINAPI SetEvent(HANDLE event) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    Object* object = FindObject(state, event, ObjectKind::Event, "SetEvent");
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->signalled = true;
    state.changed.notify_all();
    return TRUE;
}

EXTERN_C BOOL WINAPI ResetEvent(HANDLE event) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    Object* object = FindObject(state, event, ObjectKind::Event, "ResetEvent");
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    object->signalled = false;
    return TRUE;
}

EXTERN_C DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    HidState& state = State();
    std::unique_lock lock(state.mutex);
    if (FindObject(state, handle, ObjectKind::Event, "WaitForSingleObject") == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    if (ShouldFail(state, Call::WaitForSingleObject, kAnyDevice)) {
        SetLastError(ERROR_GEN_FAILURE);
        return WAIT_FAILED;
    }
    auto signalled = [&] { return state.objects.at(handle).signalled; };
    auto consume = [&] {
        Object& event = state.objects.at(handle);
        if (!event.manualReset) event.signalled = false;
        return WAIT_OBJECT_0;
    };
    if (milliseconds == INFINITE) {
        if (!BlockUntil(state, lock, DeviceSignalling(state, handle), signalled)) {
            SetLastError(ERROR_POSSIBLE_DEADLOCK);
            return WAIT_FAILED;
        }
        return consume();
    }
    std::uint64_t deadline = state.now + milliseconds;
    for (;;) {
        PumpReads(state);
        if (signalled()) return consume();
        auto next = NextArrival(state, DeviceSignalling(state, handle));
        if (!next || *next > deadline) break;
        state.now = *next;
    }
    state.now = deadline;
    PumpReads(state);
    return signalled() ? consume() : WAIT_TIMEOUT;
}
