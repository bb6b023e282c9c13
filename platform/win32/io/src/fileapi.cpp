// The file API: handles over file objects and events, requests as IRPs.
#include "win32/fileapi.h"

#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <variant>

#include "internal/io_manager.h"
#include "wdm.h"

namespace win32 {
namespace {

struct FileHandle {
    PFILE_OBJECT file;
    bool overlapped;
};
struct EventHandle {
    std::unique_ptr<KEVENT> event;
};
using HandleObject = std::variant<FileHandle, EventHandle>;

struct HandleTable {
    std::mutex mutex;
    std::map<HANDLE, std::shared_ptr<HandleObject>> objects;
    std::uintptr_t next = 4;
};

HandleTable& Handles() {
    static HandleTable table;
    return table;
}

thread_local DWORD lastError = ERROR_SUCCESS;
thread_local NTSTATUS lastStatus = STATUS_SUCCESS;

HANDLE Insert(HandleObject object) {
    auto& table = Handles();
    std::lock_guard guard(table.mutex);
    auto handle = reinterpret_cast<HANDLE>(table.next);
    table.next += 4;
    table.objects[handle] = std::make_shared<HandleObject>(std::move(object));
    return handle;
}

std::shared_ptr<HandleObject> Find(HANDLE handle) {
    auto& table = Handles();
    std::lock_guard guard(table.mutex);
    auto found = table.objects.find(handle);
    return found == table.objects.end() ? nullptr : found->second;
}

BOOL Fail(NTSTATUS status) {
    lastStatus = status;
    lastError = ErrorFromStatus(status);
    return FALSE;
}

BOOL Result(NTSTATUS status) {
    lastStatus = status;
    if (NT_SUCCESS(status)) return TRUE;
    lastError = ErrorFromStatus(status);
    return FALSE;
}

KEVENT* EventOf(HANDLE handle) {
    auto object = Find(handle);
    if (object == nullptr) return nullptr;
    if (auto* event = std::get_if<EventHandle>(object.get())) return event->event.get();
    return &std::get<FileHandle>(*object).file->Event;
}

// Sends one request on a file handle, synchronously or overlapped.
// `waitAlways`: the call completes before it returns even on an overlapped
// handle (FlushFileBuffers).
BOOL Send(HANDLE handle, kernel::internal::RequestParameters p, LPDWORD bytes,
          LPOVERLAPPED overlapped, bool waitAlways = false) {
    auto object = Find(handle);
    const auto* file = object != nullptr ? std::get_if<FileHandle>(object.get()) : nullptr;
    if (file == nullptr) return Fail(STATUS_INVALID_HANDLE);
    const bool overlappedCall = file->overlapped && !waitAlways;
    if (overlappedCall && overlapped == nullptr) return Fail(STATUS_INVALID_PARAMETER);
    // A missing buffer with a length is refused before it reaches the I/O manager,
    // which would otherwise copy to or from it.
    if ((p.buffer == nullptr && p.length != 0) ||
        (p.inputBuffer == nullptr && p.inputLength != 0) ||
        (p.outputBuffer == nullptr && p.outputLength != 0)) {
        return Fail(STATUS_ACCESS_VIOLATION);
    }
    p.file = file->file;
    p.device = kernel::internal::FileTargetDevice(file->file);
    p.requestorMode = UserMode;
    if (bytes != nullptr) *bytes = 0;

    KEVENT localEvent;
    IO_STATUS_BLOCK localStatus{};
    if (overlappedCall) {
        KEVENT* event =
            overlapped->hEvent != nullptr ? EventOf(overlapped->hEvent) : &file->file->Event;
        if (event == nullptr) return Fail(STATUS_INVALID_HANDLE);
        KeClearEvent(event);
        overlapped->Internal = static_cast<ULONG_PTR>(static_cast<ULONG>(STATUS_PENDING));
        overlapped->InternalHigh = 0;
        p.byteOffset = (static_cast<LONGLONG>(overlapped->OffsetHigh) << 32) | overlapped->Offset;
        // The status block is the OVERLAPPED's first two members, as on the platform.
        p.ioStatus = reinterpret_cast<PIO_STATUS_BLOCK>(&overlapped->Internal);
        p.event = event;
    } else {
        KeInitializeEvent(&localEvent, NotificationEvent, FALSE);
        p.ioStatus = &localStatus;
        p.event = &localEvent;
    }
    PIRP irp = kernel::internal::BuildRequest(p);
    if (irp == nullptr) return Fail(STATUS_INSUFFICIENT_RESOURCES);
    const NTSTATUS status = IoCallDriver(p.device, irp);
    if (overlappedCall) {
        if (status == STATUS_PENDING) {
            lastStatus = STATUS_PENDING;
            lastError = ERROR_IO_PENDING;
            return FALSE;
        }
        // Completed: reading the event orders this thread after the completion.
        (void)KeReadStateEvent(p.event);
        if (bytes != nullptr) *bytes = static_cast<DWORD>(overlapped->InternalHigh);
        return Result(static_cast<NTSTATUS>(overlapped->Internal));
    }
    if (status == STATUS_PENDING) {
        KeWaitForSingleObject(&localEvent, UserRequest, UserMode, FALSE, nullptr);
    } else {
        (void)KeReadStateEvent(&localEvent);
    }
    if (bytes != nullptr) *bytes = static_cast<DWORD>(localStatus.Information);
    return Result(localStatus.Status);
}

std::u16string KernelName(LPCWSTR fileName) {
    std::u16string name(fileName);
    if (name.rfind(u"\\\\.\\", 0) == 0) return u"\\??\\" + name.substr(4);
    return name;
}

}  // namespace

DWORD ErrorFromStatus(NTSTATUS status) {
    struct Mapping {
        NTSTATUS status;
        DWORD error;
    };
    static constexpr Mapping mappings[] = {
        {STATUS_SUCCESS, ERROR_SUCCESS},
        {STATUS_PENDING, ERROR_IO_PENDING},
        {STATUS_CANCELLED, ERROR_OPERATION_ABORTED},
        {STATUS_INVALID_DEVICE_REQUEST, ERROR_INVALID_FUNCTION},
        {STATUS_NOT_IMPLEMENTED, ERROR_INVALID_FUNCTION},
        {STATUS_NOT_SUPPORTED, ERROR_NOT_SUPPORTED},
        {STATUS_OBJECT_NAME_NOT_FOUND, ERROR_FILE_NOT_FOUND},
        {STATUS_NO_SUCH_FILE, ERROR_FILE_NOT_FOUND},
        {STATUS_NO_SUCH_DEVICE, ERROR_FILE_NOT_FOUND},
        {STATUS_OBJECT_PATH_NOT_FOUND, ERROR_PATH_NOT_FOUND},
        {STATUS_OBJECT_NAME_INVALID, ERROR_INVALID_NAME},
        {STATUS_ACCESS_DENIED, ERROR_ACCESS_DENIED},
        {STATUS_DELETE_PENDING, ERROR_ACCESS_DENIED},
        {STATUS_SHARING_VIOLATION, ERROR_SHARING_VIOLATION},
        {STATUS_INVALID_HANDLE, ERROR_INVALID_HANDLE},
        {STATUS_NO_MEMORY, ERROR_NOT_ENOUGH_MEMORY},
        {STATUS_INSUFFICIENT_RESOURCES, ERROR_NO_SYSTEM_RESOURCES},
        {STATUS_INVALID_PARAMETER, ERROR_INVALID_PARAMETER},
        {STATUS_BUFFER_TOO_SMALL, ERROR_INSUFFICIENT_BUFFER},
        {STATUS_BUFFER_OVERFLOW, ERROR_MORE_DATA},
        {STATUS_DEVICE_BUSY, ERROR_BUSY},
        {STATUS_DEVICE_REMOVED, ERROR_DEV_NOT_EXIST},
        {STATUS_DEVICE_DOES_NOT_EXIST, ERROR_DEV_NOT_EXIST},
        {STATUS_DEVICE_NOT_CONNECTED, ERROR_DEVICE_NOT_CONNECTED},
        {STATUS_NOT_FOUND, ERROR_NOT_FOUND},
        {STATUS_IO_TIMEOUT, ERROR_SEM_TIMEOUT},
        {STATUS_END_OF_FILE, ERROR_HANDLE_EOF},
        {STATUS_UNSUCCESSFUL, ERROR_GEN_FAILURE},
        {STATUS_ACCESS_VIOLATION, ERROR_NOACCESS},
    };
    for (const Mapping& mapping : mappings) {
        if (mapping.status == status) return mapping.error;
    }
    // Success and informational codes carry no error; others have no mapping.
    return NT_SUCCESS(status) ? ERROR_SUCCESS : ERROR_MR_MID_NOT_FOUND;
}

HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD, LPVOID, DWORD,
                   DWORD flagsAndAttributes, HANDLE) {
    if (fileName == nullptr) {
        Fail(STATUS_OBJECT_NAME_INVALID);
        return INVALID_HANDLE_VALUE;
    }
    PFILE_OBJECT file = nullptr;
    const NTSTATUS status = kernel::internal::OpenFile(KernelName(fileName), desiredAccess, &file);
    if (!NT_SUCCESS(status)) {
        Fail(status);
        return INVALID_HANDLE_VALUE;
    }
    lastStatus = status;
    return Insert(FileHandle{file, (flagsAndAttributes & FILE_FLAG_OVERLAPPED) != 0});
}

BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD numberOfBytesToRead, LPDWORD numberOfBytesRead,
              LPOVERLAPPED overlapped) {
    kernel::internal::RequestParameters p;
    p.majorFunction = IRP_MJ_READ;
    p.buffer = buffer;
    p.length = numberOfBytesToRead;
    return Send(file, p, numberOfBytesRead, overlapped);
}

BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD numberOfBytesToWrite,
               LPDWORD numberOfBytesWritten, LPOVERLAPPED overlapped) {
    kernel::internal::RequestParameters p;
    p.majorFunction = IRP_MJ_WRITE;
    p.buffer = const_cast<LPVOID>(buffer);
    p.length = numberOfBytesToWrite;
    return Send(file, p, numberOfBytesWritten, overlapped);
}

BOOL FlushFileBuffers(HANDLE file) {
    kernel::internal::RequestParameters p;
    p.majorFunction = IRP_MJ_FLUSH_BUFFERS;
    return Send(file, p, nullptr, nullptr, true);
}

BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
                     LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned,
                     LPOVERLAPPED overlapped) {
    kernel::internal::RequestParameters p;
    p.majorFunction = IRP_MJ_DEVICE_CONTROL;
    p.ioControlCode = ioControlCode;
    p.inputBuffer = inBuffer;
    p.inputLength = inBuffer != nullptr ? inBufferSize : 0;
    p.outputBuffer = outBuffer;
    p.outputLength = outBuffer != nullptr ? outBufferSize : 0;
    return Send(device, p, bytesReturned, overlapped);
}

BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD numberOfBytesTransferred,
                         BOOL wait) {
    auto object = Find(file);
    const auto* handle = object != nullptr ? std::get_if<FileHandle>(object.get()) : nullptr;
    if (handle == nullptr || overlapped == nullptr) return Fail(STATUS_INVALID_HANDLE);
    KEVENT* event =
        overlapped->hEvent != nullptr ? EventOf(overlapped->hEvent) : &handle->file->Event;
    if (event == nullptr) return Fail(STATUS_INVALID_HANDLE);
    // As on the platform, the status decides whether the request is still running,
    // not the event: an auto-reset event the caller has already waited on is clear.
    const auto* status = reinterpret_cast<const IO_STATUS_BLOCK*>(&overlapped->Internal);
    if (__atomic_load_n(&status->Status, __ATOMIC_ACQUIRE) == STATUS_PENDING) {
        if (!wait) {
            lastStatus = STATUS_PENDING;
            lastError = ERROR_IO_INCOMPLETE;
            return FALSE;
        }
        KeWaitForSingleObject(event, UserRequest, UserMode, FALSE, nullptr);
    }
    if (numberOfBytesTransferred != nullptr) {
        *numberOfBytesTransferred = static_cast<DWORD>(overlapped->InternalHigh);
    }
    return Result(static_cast<NTSTATUS>(overlapped->Internal));
}

BOOL CancelIo(HANDLE file) {
    auto object = Find(file);
    const auto* handle = object != nullptr ? std::get_if<FileHandle>(object.get()) : nullptr;
    if (handle == nullptr) return Fail(STATUS_INVALID_HANDLE);
    kernel::internal::CancelFileRequests(handle->file, KeGetCurrentThread());
    return Result(STATUS_SUCCESS);
}

BOOL CancelIoEx(HANDLE file, LPOVERLAPPED) {
    auto object = Find(file);
    const auto* handle = object != nullptr ? std::get_if<FileHandle>(object.get()) : nullptr;
    if (handle == nullptr) return Fail(STATUS_INVALID_HANDLE);
    if (kernel::internal::CancelFileRequests(handle->file, nullptr) == 0) {
        return Fail(STATUS_NOT_FOUND);
    }
    return Result(STATUS_SUCCESS);
}

BOOL CloseHandle(HANDLE object) {
    std::shared_ptr<HandleObject> closed;
    {
        auto& table = Handles();
        std::lock_guard guard(table.mutex);
        auto found = table.objects.find(object);
        if (found == table.objects.end()) return Fail(STATUS_INVALID_HANDLE);
        closed = found->second;
        table.objects.erase(found);
    }
    if (auto* file = std::get_if<FileHandle>(closed.get())) {
        const NTSTATUS status = kernel::internal::CleanupFile(file->file);
        ObDereferenceObject(file->file);
        return Result(NT_SUCCESS(status) ? STATUS_SUCCESS : status);
    }
    return Result(STATUS_SUCCESS);
}

HANDLE CreateEventW(LPVOID, BOOL manualReset, BOOL initialState, LPCWSTR) {
    auto event = std::make_unique<KEVENT>();
    KeInitializeEvent(event.get(), manualReset ? NotificationEvent : SynchronizationEvent,
                      initialState ? TRUE : FALSE);
    lastStatus = STATUS_SUCCESS;
    return Insert(EventHandle{std::move(event)});
}

BOOL SetEvent(HANDLE event) {
    KEVENT* object = EventOf(event);
    if (object == nullptr) return Fail(STATUS_INVALID_HANDLE);
    KeSetEvent(object, IO_NO_INCREMENT, FALSE);
    return Result(STATUS_SUCCESS);
}

BOOL ResetEvent(HANDLE event) {
    KEVENT* object = EventOf(event);
    if (object == nullptr) return Fail(STATUS_INVALID_HANDLE);
    KeClearEvent(object);
    return Result(STATUS_SUCCESS);
}

DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds) {
    KEVENT* object = EventOf(handle);
    if (object == nullptr) {
        Fail(STATUS_INVALID_HANDLE);
        return WAIT_FAILED;
    }
    LARGE_INTEGER timeout;
    timeout.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000;
    const NTSTATUS status = KeWaitForSingleObject(object, UserRequest, UserMode, FALSE,
                                                  milliseconds == INFINITE ? nullptr : &timeout);
    lastStatus = status;
    return status == STATUS_TIMEOUT ? WAIT_TIMEOUT : WAIT_OBJECT_0;
}

DWORD GetLastError() {
    return lastError;
}
void SetLastError(DWORD error) {
    lastError = error;
}
NTSTATUS LastNtStatus() {
    return lastStatus;
}

}  // namespace win32
