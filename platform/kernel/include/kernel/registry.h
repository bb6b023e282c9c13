// The configuration registry: object attributes, key access rights, value types
// and information classes, and the Zw*/Rtl* routines drivers use on keys.
// A fake: one in-memory tree per process (keys case-insensitive, thread-safe);
// open handles are reported as leftovers at test end. Security descriptors,
// class names, title indexes, volatility and symbolic-link keys are not modelled.
#pragma once

#include "kernel/ntstatus.h"
#include "kernel/types.h"

struct DEVICE_OBJECT;
using PDEVICE_OBJECT = DEVICE_OBJECT*;

// ---- Object attributes ---------------------------------------------------------

constexpr ULONG OBJ_INHERIT = 0x00000002;
constexpr ULONG OBJ_PERMANENT = 0x00000010;
constexpr ULONG OBJ_EXCLUSIVE = 0x00000020;
constexpr ULONG OBJ_CASE_INSENSITIVE = 0x00000040;
constexpr ULONG OBJ_OPENIF = 0x00000080;
constexpr ULONG OBJ_OPENLINK = 0x00000100;
constexpr ULONG OBJ_KERNEL_HANDLE = 0x00000200;
constexpr ULONG OBJ_FORCE_ACCESS_CHECK = 0x00000400;

struct OBJECT_ATTRIBUTES {
    ULONG Length;
    HANDLE RootDirectory;  // names are relative to this key when set
    PUNICODE_STRING ObjectName;
    ULONG Attributes;  // OBJ_*
    PVOID SecurityDescriptor;
    PVOID SecurityQualityOfService;
};
using POBJECT_ATTRIBUTES = OBJECT_ATTRIBUTES*;

inline void InitializeObjectAttributes(POBJECT_ATTRIBUTES attributes, PUNICODE_STRING name,
                                       ULONG flags, HANDLE root, PVOID securityDescriptor) {
    attributes->Length = sizeof(OBJECT_ATTRIBUTES);
    attributes->RootDirectory = root;
    attributes->ObjectName = name;
    attributes->Attributes = flags;
    attributes->SecurityDescriptor = securityDescriptor;
    attributes->SecurityQualityOfService = nullptr;
}

// ---- Key access rights ---------------------------------------------------------

constexpr ACCESS_MASK KEY_QUERY_VALUE = 0x0001;
constexpr ACCESS_MASK KEY_SET_VALUE = 0x0002;
constexpr ACCESS_MASK KEY_CREATE_SUB_KEY = 0x0004;
constexpr ACCESS_MASK KEY_ENUMERATE_SUB_KEYS = 0x0008;
constexpr ACCESS_MASK KEY_NOTIFY = 0x0010;
constexpr ACCESS_MASK KEY_CREATE_LINK = 0x0020;
constexpr ACCESS_MASK KEY_WOW64_64KEY = 0x0100;
constexpr ACCESS_MASK KEY_WOW64_32KEY = 0x0200;
// Standard read right (0x20000) with the key-specific ones.
constexpr ACCESS_MASK KEY_READ = 0x00020019;
constexpr ACCESS_MASK KEY_WRITE = 0x00020006;
constexpr ACCESS_MASK KEY_EXECUTE = KEY_READ;
constexpr ACCESS_MASK KEY_ALL_ACCESS = 0x000F003F;

// ---- Value types ---------------------------------------------------------------

constexpr ULONG REG_NONE = 0;
constexpr ULONG REG_SZ = 1;
constexpr ULONG REG_EXPAND_SZ = 2;
constexpr ULONG REG_BINARY = 3;
constexpr ULONG REG_DWORD = 4;
constexpr ULONG REG_DWORD_LITTLE_ENDIAN = 4;
constexpr ULONG REG_DWORD_BIG_ENDIAN = 5;
constexpr ULONG REG_LINK = 6;
constexpr ULONG REG_MULTI_SZ = 7;
constexpr ULONG REG_QWORD = 11;

// ---- Key creation --------------------------------------------------------------

constexpr ULONG REG_OPTION_NON_VOLATILE = 0x00000000;
constexpr ULONG REG_OPTION_VOLATILE = 0x00000001;
constexpr ULONG REG_CREATED_NEW_KEY = 0x00000001;
constexpr ULONG REG_OPENED_EXISTING_KEY = 0x00000002;

// ---- Value information ---------------------------------------------------------

enum KEY_VALUE_INFORMATION_CLASS {
    KeyValueBasicInformation = 0,
    KeyValueFullInformation = 1,
    KeyValuePartialInformation = 2,
    KeyValueFullInformationAlign64 = 3,
    KeyValuePartialInformationAlign64 = 4,
};

struct KEY_VALUE_BASIC_INFORMATION {
    ULONG TitleIndex;
    ULONG Type;
    ULONG NameLength;  // bytes, no terminator
    WCHAR Name[1];
};
using PKEY_VALUE_BASIC_INFORMATION = KEY_VALUE_BASIC_INFORMATION*;

struct KEY_VALUE_FULL_INFORMATION {
    ULONG TitleIndex;
    ULONG Type;
    ULONG DataOffset;  // from the start of the structure
    ULONG DataLength;
    ULONG NameLength;
    WCHAR Name[1];
};
using PKEY_VALUE_FULL_INFORMATION = KEY_VALUE_FULL_INFORMATION*;

struct KEY_VALUE_PARTIAL_INFORMATION {
    ULONG TitleIndex;
    ULONG Type;
    ULONG DataLength;
    UCHAR Data[1];
};
using PKEY_VALUE_PARTIAL_INFORMATION = KEY_VALUE_PARTIAL_INFORMATION*;

// ---- Zw routines (PASSIVE_LEVEL) -----------------------------------------------

[[nodiscard]] NTSTATUS ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess,
                                 POBJECT_ATTRIBUTES objectAttributes);
// Creates the last name component when it is missing; the others must exist.
[[nodiscard]] NTSTATUS ZwCreateKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess,
                                   POBJECT_ATTRIBUTES objectAttributes, ULONG titleIndex,
                                   PUNICODE_STRING keyClass, ULONG createOptions,
                                   PULONG disposition);
// *resultLength always receives the size the class needs. A buffer smaller than
// the fixed part gets STATUS_BUFFER_TOO_SMALL and nothing; one smaller than the
// whole gets the fixed part and the data that fits, with STATUS_BUFFER_OVERFLOW.
[[nodiscard]] NTSTATUS ZwQueryValueKey(HANDLE keyHandle, PUNICODE_STRING valueName,
                                       KEY_VALUE_INFORMATION_CLASS keyValueInformationClass,
                                       PVOID keyValueInformation, ULONG length,
                                       PULONG resultLength);
NTSTATUS ZwSetValueKey(HANDLE keyHandle, PUNICODE_STRING valueName, ULONG titleIndex, ULONG type,
                       PVOID data, ULONG dataSize);
NTSTATUS ZwDeleteValueKey(HANDLE keyHandle, PUNICODE_STRING valueName);
// Deletes a key without subkeys; its handles stay open and answer STATUS_KEY_DELETED.
NTSTATUS ZwDeleteKey(HANDLE keyHandle);
NTSTATUS ZwClose(HANDLE handle);

// ---- Rtl registry routines (PASSIVE_LEVEL) -------------------------------------

// Roots of the relative paths the Rtl routines take.
constexpr ULONG RTL_REGISTRY_ABSOLUTE = 0;  // the path is a full \Registry\... name
constexpr ULONG RTL_REGISTRY_SERVICES = 1;  // \Registry\Machine\System\CurrentControlSet\Services
constexpr ULONG RTL_REGISTRY_CONTROL = 2;   // \Registry\Machine\System\CurrentControlSet\Control
constexpr ULONG RTL_REGISTRY_WINDOWS_NT =
    3;  // \Registry\Machine\Software\Microsoft\Windows NT\CurrentVersion
constexpr ULONG RTL_REGISTRY_DEVICEMAP = 4;  // \Registry\Machine\Hardware\DeviceMap
constexpr ULONG RTL_REGISTRY_USER = 5;       // \Registry\User\.Default (system context)
constexpr ULONG RTL_REGISTRY_MAXIMUM = 6;
constexpr ULONG RTL_REGISTRY_HANDLE = 0x40000000;  // the path argument is a key HANDLE
constexpr ULONG RTL_REGISTRY_OPTIONAL = 0x80000000;

// Opens the key, creating its last component when missing, and sets the value.
NTSTATUS RtlWriteRegistryValue(ULONG relativeTo, PCWSTR path, PCWSTR valueName, ULONG valueType,
                               PVOID valueData, ULONG valueLength);
NTSTATUS RtlDeleteRegistryValue(ULONG relativeTo, PCWSTR path, PCWSTR valueName);
[[nodiscard]] NTSTATUS RtlCheckRegistryKey(ULONG relativeTo, PWSTR path);

// ---- Device registry keys ------------------------------------------------------

constexpr ULONG PLUGPLAY_REGKEY_DEVICE = 1;             // the device's hardware key
constexpr ULONG PLUGPLAY_REGKEY_DRIVER = 2;             // the device's software key
constexpr ULONG PLUGPLAY_REGKEY_CURRENT_HWPROFILE = 4;  // ignored: one profile

// Opens (creating it when missing) the hardware or software key of a physical
// device object. Each device object has its own pair of keys.
[[nodiscard]] NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT deviceObject, ULONG devInstKeyType,
                                               ACCESS_MASK desiredAccess, PHANDLE deviceRegKey);
