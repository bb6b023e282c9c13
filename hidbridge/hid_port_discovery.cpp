// FindTheHid, Shutdown and what the search needs: the capability query and
// the preparation of the overlapped read.
#include <cstddef>
#include <cstring>

#include "hid_port.h"
#include "scanner_ids.h"

namespace hidbridge {

namespace {

// The device path of one interface of the set, or an empty text when its
// detail cannot be read.
std::string InterfacePath(HDEVINFO set, SP_DEVICE_INTERFACE_DATA& interfaceData) {
    DWORD requiredSize = 0;
    SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, nullptr, 0, &requiredSize, nullptr);
    const std::size_t pathOffset = offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath);
    if (requiredSize <= pathOffset) return std::string();
    // One byte more than asked for, zeroed, so the path is always terminated
    // inside the buffer.
    std::vector<BYTE> buffer(std::size_t{requiredSize} + 1, 0);
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer.data());
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (!SetupDiGetDeviceInterfaceDetailA(set, &interfaceData, detail, requiredSize, nullptr,
                                          nullptr)) {
        return std::string();
    }
    const char* path = reinterpret_cast<const char*>(buffer.data() + pathOffset);
    return std::string(path, strnlen(path, buffer.size() - pathOffset));
}

}  // namespace

HRESULT STDMETHODCALLTYPE HidPort::FindTheHid(VARIANT_BOOL* result) {
    if (result == nullptr) return E_POINTER;
    deviceFound = VARIANT_FALSE;
    // Handles of an earlier search are closed before they are replaced.
    CloseDeviceHandles();
    securityAttributes.nLength = sizeof(SECURITY_ATTRIBUTES);
    securityAttributes.lpSecurityDescriptor = nullptr;
    securityAttributes.bInheritHandle = TRUE;

    GUID hidClass;
    HidD_GetHidGuid(&hidClass);
    HDEVINFO set =
        SetupDiGetClassDevsA(&hidClass, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    bool found = false;
    if (set != INVALID_HANDLE_VALUE) {
        for (DWORD index = 0; !found; ++index) {
            SP_DEVICE_INTERFACE_DATA interfaceData{};
            interfaceData.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
            if (!SetupDiEnumDeviceInterfaces(set, nullptr, &hidClass, index, &interfaceData)) break;
            std::string path = InterfacePath(set, interfaceData);
            if (path.empty()) continue;
            ioHandle = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE, &securityAttributes,
                                   OPEN_EXISTING, 0, nullptr);
            // Cleared for every device, so one whose attributes cannot be read
            // never matches.
            HIDD_ATTRIBUTES attributes{};
            attributes.Size = sizeof(HIDD_ATTRIBUTES);
            if (ioHandle != INVALID_HANDLE_VALUE && HidD_GetAttributes(ioHandle, &attributes) &&
                IsScanner(attributes.VendorID, attributes.ProductID)) {
                found = true;
                devicePath = path;
            } else {
                CloseDeviceHandles();
            }
        }
        SetupDiDestroyDeviceInfoList(set);
    }

    if (!found) {
        *result = VARIANT_FALSE;
        return S_OK;
    }
    deviceFound = VARIANT_TRUE;
    QueryCapabilities();
    readHandle = CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE,
                             FILE_SHARE_READ | FILE_SHARE_WRITE, &securityAttributes, OPEN_EXISTING,
                             FILE_FLAG_OVERLAPPED, nullptr);
    PrepareOverlappedRead();
    *result = VARIANT_TRUE;
    return S_OK;
}

// Failures leave the lengths as they were.
void HidPort::QueryCapabilities() {
    PHIDP_PREPARSED_DATA preparsed = nullptr;
    if (!HidD_GetPreparsedData(ioHandle, &preparsed)) return;
    HIDP_CAPS caps{};
    if (HidP_GetCaps(preparsed, &caps) == HIDP_STATUS_SUCCESS) {
        inputReportLength = caps.InputReportByteLength;
        outputReportLength = caps.OutputReportByteLength;
        featureReportLength = caps.FeatureReportByteLength;
    }
    HidD_FreePreparsedData(preparsed);
}

void HidPort::PrepareOverlappedRead() {
    if (readEvent == nullptr) readEvent = CreateEventA(&securityAttributes, TRUE, TRUE, "");
    readOverlapped.Offset = 0;
    readOverlapped.OffsetHigh = 0;
    readOverlapped.hEvent = readEvent;
}

HRESULT STDMETHODCALLTYPE HidPort::Shutdown() {
    CloseDeviceHandles();
    deviceFound = VARIANT_FALSE;
    return S_OK;
}

void HidPort::EnsureDevice() {
    if (deviceFound) return;
    VARIANT_BOOL found = VARIANT_FALSE;
    static_cast<_HidPort*>(this)->FindTheHid(&found);
    deviceFound = found;
}

}  // namespace hidbridge
