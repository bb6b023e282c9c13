// Device-setup (setupapi) of the simulated platform: device-information sets
// over the present simulated HID devices. A fake; only device-interface sets
// of the HID interface class are modelled.
#pragma once

#include "win32/types.h"

using HDEVINFO = PVOID;

#define DIGCF_DEFAULT 0x00000001UL
#define DIGCF_PRESENT 0x00000002UL
#define DIGCF_ALLCLASSES 0x00000004UL
#define DIGCF_PROFILE 0x00000008UL
#define DIGCF_DEVICEINTERFACE 0x00000010UL

#define SPINT_ACTIVE 0x00000001UL
#define SPINT_DEFAULT 0x00000002UL
#define SPINT_REMOVED 0x00000004UL

struct SP_DEVINFO_DATA {
    DWORD cbSize;
    GUID ClassGuid;
    DWORD DevInst;
    ULONG_PTR Reserved;
};
using PSP_DEVINFO_DATA = SP_DEVINFO_DATA*;

struct SP_DEVICE_INTERFACE_DATA {
    DWORD cbSize;
    GUID InterfaceClassGuid;
    DWORD Flags;
    ULONG_PTR Reserved;
};
using PSP_DEVICE_INTERFACE_DATA = SP_DEVICE_INTERFACE_DATA*;

struct SP_DEVICE_INTERFACE_DETAIL_DATA_A {
    DWORD cbSize;
    CHAR DevicePath[1];
};
using PSP_DEVICE_INTERFACE_DETAIL_DATA_A = SP_DEVICE_INTERFACE_DETAIL_DATA_A*;

EXTERN_C {
    // A snapshot of the devices that expose the class's interface (with
    // DIGCF_PRESENT: those present now). Needs DIGCF_DEVICEINTERFACE.
    HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND parent,
                                         DWORD flags);
    // FALSE with ERROR_NO_MORE_ITEMS past the last interface; cbSize must be
    // sizeof(SP_DEVICE_INTERFACE_DATA).
    BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA deviceInfoData,
                                            const GUID* interfaceClassGuid, DWORD memberIndex,
                                            PSP_DEVICE_INTERFACE_DATA deviceInterfaceData);
    // Without a buffer: FALSE with ERROR_INSUFFICIENT_BUFFER and the required size.
    // With one: its cbSize must be sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A).
    BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(
        HDEVINFO deviceInfoSet, PSP_DEVICE_INTERFACE_DATA deviceInterfaceData,
        PSP_DEVICE_INTERFACE_DETAIL_DATA_A deviceInterfaceDetailData,
        DWORD deviceInterfaceDetailDataSize, PDWORD requiredSize, PSP_DEVINFO_DATA deviceInfoData);
    BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO deviceInfoSet);

}  // EXTERN_C
