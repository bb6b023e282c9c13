// User-mode file API over the simulated I/O manager, for tests and tools:
// CreateFile on a device or link name, ReadFile, WriteFile and DeviceIoControl
// (synchronous and overlapped), GetOverlappedResult, CancelIo, CloseHandle and
// the event calls they need. Results follow Win32 (BOOL plus GetLastError); the
// final NTSTATUS of each call is kept for tests (LastNtStatus).
// A fake: handles are process-wide, security and sharing are not modelled, and
// a synchronous call blocks its thread in a kernel wait as a real one does.
#pragma once

#include <cstdint>

#include "kernel/types.h"

namespace win32 {

using DWORD = std::uint32_t;
using LPDWORD = DWORD*;
using BOOL = int;
using LPVOID = void*;
using LPCVOID = const void*;
using LPCWSTR = const char16_t*;

struct OVERLAPPED {
    ULONG_PTR Internal;      // the request's NTSTATUS once it has completed
    ULONG_PTR InternalHigh;  // bytes transferred
    union {
        struct {
            DWORD Offset;
            DWORD OffsetHigh;
        };
        PVOID Pointer;
    };
    HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(~std::uintptr_t{0});

constexpr DWORD GENERIC_READ = 0x80000000;
constexpr DWORD GENERIC_WRITE = 0x40000000;
constexpr DWORD OPEN_EXISTING = 3;
constexpr DWORD FILE_ATTRIBUTE_NORMAL = 0x80;
constexpr DWORD FILE_FLAG_OVERLAPPED = 0x40000000;
constexpr DWORD INFINITE = 0xFFFFFFFF;
constexpr DWORD WAIT_OBJECT_0 = 0;
constexpr DWORD WAIT_TIMEOUT = 258;
constexpr DWORD WAIT_FAILED = 0xFFFFFFFF;

constexpr DWORD ERROR_SUCCESS = 0;
constexpr DWORD ERROR_INVALID_FUNCTION = 1;
constexpr DWORD ERROR_FILE_NOT_FOUND = 2;
constexpr DWORD ERROR_PATH_NOT_FOUND = 3;
constexpr DWORD ERROR_ACCESS_DENIED = 5;
constexpr DWORD ERROR_INVALID_HANDLE = 6;
constexpr DWORD ERROR_NOT_ENOUGH_MEMORY = 8;
constexpr DWORD ERROR_GEN_FAILURE = 31;
constexpr DWORD ERROR_SHARING_VIOLATION = 32;
constexpr DWORD ERROR_HANDLE_EOF = 38;
constexpr DWORD ERROR_NOT_SUPPORTED = 50;
constexpr DWORD ERROR_DEV_NOT_EXIST = 55;
constexpr DWORD ERROR_INVALID_PARAMETER = 87;
constexpr DWORD ERROR_SEM_TIMEOUT = 121;
constexpr DWORD ERROR_INSUFFICIENT_BUFFER = 122;
constexpr DWORD ERROR_INVALID_NAME = 123;
constexpr DWORD ERROR_BUSY = 170;
constexpr DWORD ERROR_MORE_DATA = 234;
constexpr DWORD ERROR_MR_MID_NOT_FOUND = 317;
constexpr DWORD ERROR_OPERATION_ABORTED = 995;
constexpr DWORD ERROR_IO_INCOMPLETE = 996;
constexpr DWORD ERROR_IO_PENDING = 997;
constexpr DWORD ERROR_NOACCESS = 998;
constexpr DWORD ERROR_DEVICE_NOT_CONNECTED = 1167;
constexpr DWORD ERROR_NOT_FOUND = 1168;
constexpr DWORD ERROR_NO_SYSTEM_RESOURCES = 1450;

// "\\.\NAME" opens "\??\NAME"; kernel names ("\Device\X", "\??\X") are taken as
// they are.
[[nodiscard]] HANDLE CreateFileW(LPCWSTR fileName, DWORD desiredAccess, DWORD shareMode,
                                 LPVOID securityAttributes, DWORD creationDisposition,
                                 DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, LPVOID buffer, DWORD numberOfBytesToRead, LPDWORD numberOfBytesRead,
              LPOVERLAPPED overlapped);
BOOL WriteFile(HANDLE file, LPCVOID buffer, DWORD numberOfBytesToWrite,
               LPDWORD numberOfBytesWritten, LPOVERLAPPED overlapped);
// Synchronous on every handle: returns once the flush request has completed.
BOOL FlushFileBuffers(HANDLE file);
BOOL DeviceIoControl(HANDLE device, DWORD ioControlCode, LPVOID inBuffer, DWORD inBufferSize,
                     LPVOID outBuffer, DWORD outBufferSize, LPDWORD bytesReturned,
                     LPOVERLAPPED overlapped);
BOOL GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped, LPDWORD numberOfBytesTransferred,
                         BOOL wait);
// Cancels the calling thread's unfinished requests on the handle.
BOOL CancelIo(HANDLE file);
// Cancels every unfinished request on the handle (the overlapped argument is
// not used to pick one); ERROR_NOT_FOUND when there is none.
BOOL CancelIoEx(HANDLE file, LPOVERLAPPED overlapped);
// A file handle: IRP_MJ_CLEANUP now, IRP_MJ_CLOSE once its last request is done.
BOOL CloseHandle(HANDLE object);

[[nodiscard]] HANDLE CreateEventW(LPVOID eventAttributes, BOOL manualReset, BOOL initialState,
                                  LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);
// An event or a file handle (its file object's event).
DWORD WaitForSingleObject(HANDLE handle, DWORD milliseconds);

[[nodiscard]] DWORD GetLastError();
void SetLastError(DWORD error);
// The NTSTATUS behind the calling thread's latest result.
[[nodiscard]] NTSTATUS LastNtStatus();
// The Win32 error for a status (RtlNtStatusToDosError).
[[nodiscard]] DWORD ErrorFromStatus(NTSTATUS status);

}  // namespace win32
