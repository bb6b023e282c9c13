// kernel32 of the simulated platform: files over the simulated HID devices,
// events and waits on the virtual clock, the module loader (dlopen), the last
// error, and the wide-to-ANSI conversion. A fake: the calls behave as
// documented for the cases the HID bridge meets; the simulation's own
// restrictions are noted at each declaration.
#pragma once

#include "win32/types.h"

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    LPVOID lpSecurityDescriptor;
    BOOL bInheritHandle;
};
using PSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;
using LPSECURITY_ATTRIBUTES = SECURITY_ATTRIBUTES*;

struct OVERLAPPED {
    ULONG_PTR Internal;      // status of the operation
    ULONG_PTR InternalHigh;  // bytes transferred
    DWORD Offset;
    DWORD OffsetHigh;
    HANDLE hEvent;
};
using LPOVERLAPPED = OVERLAPPED*;

#define INVALID_HANDLE_VALUE ((HANDLE)(LONG_PTR)-1)

#define GENERIC_READ 0x80000000UL
#define GENERIC_WRITE 0x40000000UL
#define FILE_SHARE_READ 0x00000001UL
#define FILE_SHARE_WRITE 0x00000002UL
#define CREATE_NEW 1
#define CREATE_ALWAYS 2
#define OPEN_EXISTING 3
#define OPEN_ALWAYS 4
#define TRUNCATE_EXISTING 5
#define FILE_ATTRIBUTE_NORMAL 0x00000080UL
#define FILE_FLAG_OVERLAPPED 0x40000000UL

#define INFINITE 0xFFFFFFFFUL
#define WAIT_OBJECT_0 0x00000000UL
#define WAIT_ABANDONED 0x00000080UL
#define WAIT_TIMEOUT 0x00000102UL
#define WAIT_FAILED 0xFFFFFFFFUL

#define STATUS_PENDING 0x00000103UL
#define STILL_ACTIVE STATUS_PENDING

#define DLL_PROCESS_DETACH 0
#define DLL_PROCESS_ATTACH 1
#define DLL_THREAD_ATTACH 2
#define DLL_THREAD_DETACH 3

#define CP_ACP 0
#define CP_UTF8 65001

EXTERN_C {
    DWORD WINAPI GetLastError();
    void WINAPI SetLastError(DWORD error);

    // Opens a simulated HID device by its device-interface path. The handle is
    // overlapped when dwFlagsAndAttributes holds FILE_FLAG_OVERLAPPED.
    HANDLE WINAPI CreateFileA(LPCSTR fileName, DWORD desiredAccess, DWORD shareMode,
                              LPSECURITY_ATTRIBUTES securityAttributes, DWORD creationDisposition,
                              DWORD flagsAndAttributes, HANDLE templateFile);

    // Reads one input report. On an overlapped handle the read completes at once
    // when a report is queued and otherwise stays pending (ERROR_IO_PENDING) until a
    // report arrives, CancelIo or CloseHandle. On a synchronous handle the call
    // blocks; the virtual clock then moves to the next scheduled report.
    BOOL WINAPI ReadFile(HANDLE file, LPVOID buffer, DWORD numberOfBytesToRead,
                         LPDWORD numberOfBytesRead, LPOVERLAPPED overlapped);
    // Writes one output report; the device takes it at once.
    BOOL WINAPI WriteFile(HANDLE file, LPCVOID buffer, DWORD numberOfBytesToWrite,
                          LPDWORD numberOfBytesWritten, LPOVERLAPPED overlapped);
    // Ends the pending reads on the handle with ERROR_OPERATION_ABORTED (the
    // platform ends only the calling thread's; the simulation ends all).
    BOOL WINAPI CancelIo(HANDLE file);
    BOOL WINAPI GetOverlappedResult(HANDLE file, LPOVERLAPPED overlapped,
                                    LPDWORD numberOfBytesTransferred, BOOL wait);
    BOOL WINAPI CloseHandle(HANDLE object);

    // Events are unnamed in the simulation; a non-empty name is rejected.
    HANDLE WINAPI CreateEventA(LPSECURITY_ATTRIBUTES eventAttributes, BOOL manualReset,
                               BOOL initialState, LPCSTR name);
    BOOL WINAPI SetEvent(HANDLE event);
    BOOL WINAPI ResetEvent(HANDLE event);
    // Waits on an event; the time-out runs on the virtual clock.
    DWORD WINAPI WaitForSingleObject(HANDLE handle, DWORD milliseconds);

    // The loader: LoadLibraryA dlopens the file and, on its first load, calls its
    // exported DllMain with DLL_PROCESS_ATTACH, as the platform's loader does.
    HMODULE WINAPI LoadLibraryA(LPCSTR fileName);
    BOOL WINAPI FreeLibrary(HMODULE module);
    FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName);
    DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size);

    // The simulation's ANSI code page is Latin-1: characters up to U+00FF become
    // one byte of the same value, all others the default character ('?').
    // CP_UTF8 is supported as well.
    int WINAPI WideCharToMultiByte(UINT codePage, DWORD flags, LPCWCH wideCharStr,
                                   int wideCharCount, LPSTR multiByteStr, int multiByteCount,
                                   LPCCH defaultChar, LPBOOL usedDefaultChar);
    int WINAPI MultiByteToWideChar(UINT codePage, DWORD flags, LPCCH multiByteStr,
                                   int multiByteCount, LPWSTR wideCharStr, int wideCharCount);

}  // EXTERN_C
