// HID client routines (hid.dll: HidD_*, HidP_GetCaps) of the simulated
// platform, over the table of simulated HID devices. A fake: attributes,
// capabilities and feature reports come from the device's description.
#pragma once

#include "win32/types.h"

using USAGE = USHORT;

struct HIDD_ATTRIBUTES {
    ULONG Size;
    USHORT VendorID;
    USHORT ProductID;
    USHORT VersionNumber;
};
using PHIDD_ATTRIBUTES = HIDD_ATTRIBUTES*;

struct HIDP_CAPS {
    USAGE Usage;
    USAGE UsagePage;
    USHORT InputReportByteLength;
    USHORT OutputReportByteLength;
    USHORT FeatureReportByteLength;
    USHORT Reserved[17];
    USHORT NumberLinkCollectionNodes;
    USHORT NumberInputButtonCaps;
    USHORT NumberInputValueCaps;
    USHORT NumberInputDataIndices;
    USHORT NumberOutputButtonCaps;
    USHORT NumberOutputValueCaps;
    USHORT NumberOutputDataIndices;
    USHORT NumberFeatureButtonCaps;
    USHORT NumberFeatureValueCaps;
    USHORT NumberFeatureDataIndices;
};
using PHIDP_CAPS = HIDP_CAPS*;

struct HIDP_PREPARSED_DATA_;
using PHIDP_PREPARSED_DATA = HIDP_PREPARSED_DATA_*;

#define HIDP_STATUS_SUCCESS ((NTSTATUS)0x00110000L)
#define HIDP_STATUS_INVALID_PREPARSED_DATA ((NTSTATUS)0xC0110001L)

EXTERN_C {
    void WINAPI HidD_GetHidGuid(LPGUID hidGuid);
    BOOLEAN WINAPI HidD_GetAttributes(HANDLE hidDeviceObject, PHIDD_ATTRIBUTES attributes);
    BOOLEAN WINAPI HidD_GetPreparsedData(HANDLE hidDeviceObject,
                                         PHIDP_PREPARSED_DATA * preparsedData);
    BOOLEAN WINAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData);
    NTSTATUS WINAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS capabilities);
    // Feature reports: the buffer's byte 0 is the report id. The device records
    // each report it is sent and answers HidD_GetFeature with its current one;
    // neither call touches more than reportBufferLength bytes.
    BOOLEAN WINAPI HidD_SetFeature(HANDLE hidDeviceObject, PVOID reportBuffer,
                                   ULONG reportBufferLength);
    BOOLEAN WINAPI HidD_GetFeature(HANDLE hidDeviceObject, PVOID reportBuffer,
                                   ULONG reportBufferLength);

}  // EXTERN_C
