// Basic WDM types shared by every kernel declaration of the simulated platform.
// Names and meanings follow the platform's documentation; binary layouts need not
// match (the simulation runs as a 64-bit Linux process).
#pragma once

#include <cstddef>
#include <cstdint>

using VOID = void;
using PVOID = void*;
using CHAR = char;
using PCHAR = char*;
using UCHAR = std::uint8_t;
using PUCHAR = UCHAR*;
using SHORT = std::int16_t;
using USHORT = std::uint16_t;
using PUSHORT = USHORT*;
using LONG = std::int32_t;
using PLONG = LONG*;
using ULONG = std::uint32_t;
using PULONG = ULONG*;
using LONGLONG = std::int64_t;
using ULONGLONG = std::uint64_t;

constexpr ULONG MAXULONG = 0xFFFFFFFF;
constexpr LONG MAXLONG = 0x7FFFFFFF;
using LONG_PTR = std::intptr_t;
using ULONG_PTR = std::uintptr_t;
using PULONG_PTR = ULONG_PTR*;
using SIZE_T = std::size_t;
using BOOLEAN = UCHAR;
using PBOOLEAN = BOOLEAN*;
using CCHAR = char;
// Wide characters are 16 bits, as on Windows.
using WCHAR = char16_t;
using PWCHAR = WCHAR*;
using PWSTR = WCHAR*;
using PCWSTR = const WCHAR*;
using PSTR = char*;
using PCSTR = const char*;
using HANDLE = void*;
using PHANDLE = HANDLE*;
using NTSTATUS = LONG;
using KIRQL = UCHAR;
using PKIRQL = KIRQL*;
using KPRIORITY = LONG;
using ACCESS_MASK = ULONG;

#ifndef TRUE
#define TRUE 1
#endif
#ifndef FALSE
#define FALSE 0
#endif

constexpr bool NT_SUCCESS(NTSTATUS status) { return status >= 0; }

union LARGE_INTEGER {
    struct {
        ULONG LowPart;
        LONG HighPart;
    } u;
    LONGLONG QuadPart;
};
using PLARGE_INTEGER = LARGE_INTEGER*;

union ULARGE_INTEGER {
    struct {
        ULONG LowPart;
        ULONG HighPart;
    } u;
    ULONGLONG QuadPart;
};

struct UNICODE_STRING {
    USHORT Length;         // bytes, without a terminating NUL
    USHORT MaximumLength;  // bytes of Buffer
    PWSTR Buffer;
};
using PUNICODE_STRING = UNICODE_STRING*;
using PCUNICODE_STRING = const UNICODE_STRING*;

struct ANSI_STRING {
    USHORT Length;
    USHORT MaximumLength;
    PCHAR Buffer;
};
using PANSI_STRING = ANSI_STRING*;

struct LIST_ENTRY {
    LIST_ENTRY* Flink;
    LIST_ENTRY* Blink;
};
using PLIST_ENTRY = LIST_ENTRY*;

struct SINGLE_LIST_ENTRY {
    SINGLE_LIST_ENTRY* Next;
};
using PSINGLE_LIST_ENTRY = SINGLE_LIST_ENTRY*;

struct GUID {
    ULONG Data1;
    USHORT Data2;
    USHORT Data3;
    UCHAR Data4[8];
};
using LPGUID = GUID*;
using LPCGUID = const GUID*;

constexpr KIRQL PASSIVE_LEVEL = 0;
constexpr KIRQL LOW_LEVEL = 0;
constexpr KIRQL APC_LEVEL = 1;
constexpr KIRQL DISPATCH_LEVEL = 2;
constexpr KIRQL HIGH_LEVEL = 31;

// The address of the record of type `type` whose field `field` is at `address`.
#define CONTAINING_RECORD(address, type, field) \
    (reinterpret_cast<type*>(reinterpret_cast<char*>(address) - offsetof(type, field)))
