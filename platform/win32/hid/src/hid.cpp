// HidD_* and HidP_GetCaps over the simulated HID devices.
#include <algorithm>
#include <cstring>

#include "hid_state.h"

using namespace win32sim;
using namespace win32sim::detail;

struct HIDP_PREPARSED_DATA_ {
    HIDP_CAPS caps;
};

namespace {

// The open device behind a handle, or null (with the last error set).
Device* OpenDevice(HidState& state, HANDLE handle, Call call, const char* caller) {
    Object* object = FindObject(state, handle, ObjectKind::File, caller);
    if (object == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    Device* device = FindDevice(state, object->device);
    if (!device->present) {
        SetLastError(ERROR_DEVICE_NOT_CONNECTED);
        return nullptr;
    }
    if (ShouldFail(state, call, object->device)) {
        SetLastError(ERROR_GEN_FAILURE);
        return nullptr;
    }
    return device;
}

}  // namespace

EXTERN_C BOOLEAN WINAPI HidD_GetAttributes(HANDLE hidDeviceObject, PHIDD_ATTRIBUTES attributes) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    Device* device =
        OpenDevice(state, hidDeviceObject, Call::HidD_GetAttributes, "HidD_GetAttributes");
    if (device == nullptr || attributes == nullptr) return FALSE;
    attributes->Size = sizeof(HIDD_ATTRIBUTES);
    attributes->VendorID = device->description.vendorId;
    attributes->ProductID = device->description.productId;
    attributes->VersionNumber = device->description.versionNumber;
    return TRUE;
}

EXTERN_C BOOLEAN WINAPI HidD_GetPreparsedData(HANDLE hidDeviceObject,
                                              PHIDP_PREPARSED_DATA* preparsedData) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    Device* device =
        OpenDevice(state, hidDeviceObject, Call::HidD_GetPreparsedData, "HidD_GetPreparsedData");
    if (device == nullptr || preparsedData == nullptr) return FALSE;
    auto* data = new HIDP_PREPARSED_DATA_{};
    data->caps.Usage = 0x01;
    data->caps.UsagePage = 0x8C;  // bar code scanner page
    data->caps.InputReportByteLength = device->description.inputReportLength;
    data->caps.OutputReportByteLength = device->description.outputReportLength;
    data->caps.FeatureReportByteLength = device->description.featureReportLength;
    state.preparsedData.insert(data);
    *preparsedData = data;
    return TRUE;
}

EXTERN_C BOOLEAN WINAPI HidD_FreePreparsedData(PHIDP_PREPARSED_DATA preparsedData) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    if (state.preparsedData.erase(preparsedData) == 0) {
        AddViolation(state, "HidD_FreePreparsedData: not live preparsed data");
        return FALSE;
    }
    delete preparsedData;
    return TRUE;
}

EXTERN_C NTSTATUS WINAPI HidP_GetCaps(PHIDP_PREPARSED_DATA preparsedData, PHIDP_CAPS capabilities) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    if (state.preparsedData.count(preparsedData) == 0) {
        AddViolation(state, "HidP_GetCaps: not live preparsed data");
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    }
    if (ShouldFail(state, Call::HidP_GetCaps, kAnyDevice))
        return HIDP_STATUS_INVALID_PREPARSED_DATA;
    *capabilities = preparsedData->caps;
    return HIDP_STATUS_SUCCESS;
}

EXTERN_C BOOLEAN WINAPI HidD_SetFeature(HANDLE hidDeviceObject, PVOID reportBuffer,
                                        ULONG reportBufferLength) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    Device* device = OpenDevice(state, hidDeviceObject, Call::HidD_SetFeature, "HidD_SetFeature");
    if (device == nullptr) return FALSE;
    if (reportBuffer == nullptr || reportBufferLength == 0 ||
        reportBufferLength != device->description.featureReportLength) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    const BYTE* bytes = static_cast<const BYTE*>(reportBuffer);
    device->sentFeatureReports.emplace_back(bytes, bytes + reportBufferLength);
    return TRUE;
}

EXTERN_C BOOLEAN WINAPI HidD_GetFeature(HANDLE hidDeviceObject, PVOID reportBuffer,
                                        ULONG reportBufferLength) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    Device* device = OpenDevice(state, hidDeviceObject, Call::HidD_GetFeature, "HidD_GetFeature");
    if (device == nullptr) return FALSE;
    if (reportBuffer == nullptr || reportBufferLength == 0 ||
        reportBufferLength != device->description.featureReportLength) {
        SetLastError(ERROR_INVALID_USER_BUFFER);
        return FALSE;
    }
    std::size_t count = std::min<std::size_t>(device->featureReport.size(), reportBufferLength);
    if (count > 0) std::memcpy(reportBuffer, device->featureReport.data(), count);
    return TRUE;
}
