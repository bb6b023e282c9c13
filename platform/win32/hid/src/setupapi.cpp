// Device-information sets over the simulated HID devices.
#include <cstring>

#include "hid_state.h"

using namespace win32sim;
using namespace win32sim::detail;

namespace {

constexpr GUID kHidInterfaceClass = {
    0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}};

BOOL Fail(DWORD error) {
    SetLastError(error);
    return FALSE;
}

std::vector<DeviceId>* FindSet(HidState& state, HDEVINFO set, const char* caller) {
    auto it = state.deviceInfoSets.find(set);
    if (it == state.deviceInfoSets.end()) {
        AddViolation(state, std::string(caller) + ": not an open device-information set");
        return nullptr;
    }
    return &it->second;
}

}  // namespace

EXTERN_C void WINAPI HidD_GetHidGuid(LPGUID hidGuid) {
    *hidGuid = kHidInterfaceClass;
}

EXTERN_C HDEVINFO WINAPI SetupDiGetClassDevsA(const GUID* classGuid, PCSTR enumerator, HWND,
                                              DWORD flags) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    HDEVINFO invalid = INVALID_HANDLE_VALUE;
    if (classGuid == nullptr || enumerator != nullptr || (flags & DIGCF_DEVICEINTERFACE) == 0) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return invalid;
    }
    if (ShouldFail(state, Call::SetupDiGetClassDevs, kAnyDevice)) {
        SetLastError(ERROR_NOT_ENOUGH_MEMORY);
        return invalid;
    }
    std::vector<DeviceId> members;
    if (IsEqualGUID(*classGuid, kHidInterfaceClass)) {
        for (std::size_t i = 0; i < state.devices.size(); ++i) {
            if (state.devices[i].present || (flags & DIGCF_PRESENT) == 0) {
                members.push_back(static_cast<DeviceId>(i));
            }
        }
    }
    HDEVINFO set = NewHandleValue(state);
    state.deviceInfoSets.emplace(set, std::move(members));
    return set;
}

EXTERN_C BOOL WINAPI SetupDiEnumDeviceInterfaces(HDEVINFO deviceInfoSet, PSP_DEVINFO_DATA,
                                                 const GUID* interfaceClassGuid, DWORD memberIndex,
                                                 PSP_DEVICE_INTERFACE_DATA deviceInterfaceData) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    std::vector<DeviceId>* members = FindSet(state, deviceInfoSet, "SetupDiEnumDeviceInterfaces");
    if (members == nullptr) return Fail(ERROR_INVALID_HANDLE);
    if (interfaceClassGuid == nullptr || deviceInterfaceData == nullptr ||
        deviceInterfaceData->cbSize != sizeof(SP_DEVICE_INTERFACE_DATA)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (!IsEqualGUID(*interfaceClassGuid, kHidInterfaceClass) || memberIndex >= members->size()) {
        return Fail(ERROR_NO_MORE_ITEMS);
    }
    deviceInterfaceData->InterfaceClassGuid = kHidInterfaceClass;
    deviceInterfaceData->Flags = SPINT_ACTIVE;
    deviceInterfaceData->Reserved = static_cast<ULONG_PTR>((*members)[memberIndex]) + 1;
    return TRUE;
}

EXTERN_C BOOL WINAPI SetupDiGetDeviceInterfaceDetailA(HDEVINFO deviceInfoSet,
                                                      PSP_DEVICE_INTERFACE_DATA deviceInterfaceData,
                                                      PSP_DEVICE_INTERFACE_DETAIL_DATA_A detail,
                                                      DWORD detailSize, PDWORD requiredSize,
                                                      PSP_DEVINFO_DATA) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    if (FindSet(state, deviceInfoSet, "SetupDiGetDeviceInterfaceDetailA") == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    if (deviceInterfaceData == nullptr || deviceInterfaceData->Reserved == 0) {
        return Fail(ERROR_INVALID_PARAMETER);
    }
    DeviceId id = static_cast<DeviceId>(deviceInterfaceData->Reserved - 1);
    Device* device = FindDevice(state, id);
    if (device == nullptr) return Fail(ERROR_INVALID_PARAMETER);
    if (ShouldFail(state, Call::SetupDiGetDeviceInterfaceDetail, id))
        return Fail(ERROR_GEN_FAILURE);
    const DWORD pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    const DWORD needed = pathOffset + static_cast<DWORD>(device->path.size()) + 1;
    if (requiredSize != nullptr) *requiredSize = needed;
    if (detail == nullptr) {
        return Fail(detailSize == 0 ? ERROR_INSUFFICIENT_BUFFER : ERROR_INVALID_USER_BUFFER);
    }
    if (detail->cbSize != sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A)) {
        return Fail(ERROR_INVALID_USER_BUFFER);
    }
    if (detailSize < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(reinterpret_cast<BYTE*>(detail) + pathOffset, device->path.c_str(),
                device->path.size() + 1);
    return TRUE;
}

EXTERN_C BOOL WINAPI SetupDiDestroyDeviceInfoList(HDEVINFO deviceInfoSet) {
    HidState& state = State();
    std::lock_guard lock(state.mutex);
    if (FindSet(state, deviceInfoSet, "SetupDiDestroyDeviceInfoList") == nullptr) {
        return Fail(ERROR_INVALID_HANDLE);
    }
    state.deviceInfoSets.erase(deviceInfoSet);
    return TRUE;
}
