// The report exchange of HidPort: ReadData, ReadDataDirect, WriteData,
// SendFeature and GetFeature. Reports are zero-filled buffers of the length
// the device declares; byte 0 is the report id, always 0 here. Argument
// errors are reported before the device search; a report that does not fit,
// after it; in both cases before anything is sent.
#include <cstdio>
#include <vector>

#include "com_error.h"
#include "hex_text.h"
#include "hid_port.h"

namespace hidbridge {

namespace {

HRESULT ReturnText(BSTR text, BSTR* result) {
    if (text == nullptr) return RaiseError(BridgeError::OutOfMemory);
    *result = text;
    return S_OK;
}

// The hexadecimal text of buffer bytes from..end.
HRESULT ReturnHex(const std::vector<BYTE>& buffer, std::size_t from, BSTR* result) {
    std::size_t count = buffer.size() > from ? buffer.size() - from : 0;
    return ReturnText(HexText(buffer.data() + from, count), result);
}

}  // namespace

HRESULT STDMETHODCALLTYPE HidPort::ReadData(SHORT* readTimeout, BSTR* result) {
    if (readTimeout == nullptr || result == nullptr) return E_POINTER;
    *result = nullptr;
    // A negative time-out would be a wait of about 49 days; it is rejected.
    if (*readTimeout < 0) return RaiseError(BridgeError::NegativeTimeout, *readTimeout);
    EnsureDevice();
    // No device, or one without input reports: the empty text.
    if (!deviceFound || inputReportLength == 0)
        return ReturnText(SysAllocStringLen(nullptr, 0), result);
    return ReadReportTimed(*readTimeout, result);
}

HRESULT HidPort::ReadReportTimed(SHORT readTimeout, BSTR* result) {
    // Without the event (its creation failed) there is nothing to wait on: the
    // read ends as a failed wait, and the next call's search creates it anew.
    if (readEvent == nullptr) {
        deviceFound = VARIANT_FALSE;
        return ReturnText(AsciiText("ERROR READREPORT"), result);
    }
    std::vector<BYTE> buffer(inputReportLength, 0);
    DWORD bytesRead = 0;
    BOOL completed =
        ReadFile(readHandle, buffer.data(), inputReportLength, &bytesRead, &readOverlapped);
    bool pending = !completed && GetLastError() == ERROR_IO_PENDING;
    DWORD wait = WaitForSingleObject(readEvent, static_cast<DWORD>(readTimeout) * 1000);

    char text[32];
    BSTR answer = nullptr;
    if (wait == WAIT_OBJECT_0) {
        answer = HexText(buffer.data() + 1, buffer.size() - 1);
    } else {
        // The read still pending on `buffer` is cancelled, and its end awaited,
        // before the buffer goes away.
        if (pending) {
            CancelIo(readHandle);
            GetOverlappedResult(readHandle, &readOverlapped, &bytesRead, TRUE);
        }
        if (wait == WAIT_TIMEOUT) {
            std::snprintf(text, sizeof text, "TIMEOUT %d", readTimeout);
            CloseDeviceHandles();
        } else {
            std::snprintf(text, sizeof text, "ERROR READREPORT");
        }
        deviceFound = VARIANT_FALSE;
        answer = AsciiText(text);
    }
    ResetEvent(readEvent);
    return ReturnText(answer, result);
}

HRESULT STDMETHODCALLTYPE HidPort::ReadDataDirect(BSTR* result) {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    EnsureDevice();
    return ReadReportDirect(result);
}

// The direct read uses an OVERLAPPED record of its own (offsets 0, no event),
// so readOverlapped keeps its event for the next ReadData.
HRESULT HidPort::ReadReportDirect(BSTR* result) {
    const USHORT length = OpenLength(inputReportLength);
    if (length == 0) return RaiseError(BridgeError::NoInputReport);
    std::vector<BYTE> buffer(length, 0);
    OVERLAPPED direct{};
    DWORD bytesRead = 0;
    ReadFile(ioHandle, buffer.data(), length, &bytesRead, &direct);
    return ReturnHex(buffer, 1, result);
}

HRESULT STDMETHODCALLTYPE HidPort::WriteData(BSTR* writeString, BSTR* result) {
    if (writeString == nullptr || result == nullptr) return E_POINTER;
    *result = nullptr;
    HexParse parsed = ParseHexText(*writeString, SysStringLen(*writeString));
    if (parsed.badPosition) {
        return RaiseError(BridgeError::NotHexadecimal, static_cast<long>(*parsed.badPosition) + 1);
    }
    EnsureDevice();
    outputReportData = std::move(parsed.bytes);
    HRESULT hr = WriteReport(result);
    outputReportData.clear();
    return hr;
}

HRESULT HidPort::WriteReport(BSTR* result) {
    const USHORT length = OpenLength(outputReportLength);
    if (length == 0) return RaiseError(BridgeError::NoOutputReport);
    if (outputReportData.size() > std::size_t{length} - 1u) {
        return RaiseError(BridgeError::OutputTooLong, static_cast<long>(outputReportData.size()),
                          static_cast<long>(length) - 1);
    }
    std::vector<BYTE> buffer(length, 0);
    std::copy(outputReportData.begin(), outputReportData.end(), buffer.begin() + 1);
    DWORD written = 0;
    WriteFile(ioHandle, buffer.data(), length, &written, nullptr);
    return ReturnHex(buffer, 1, result);
}

HRESULT STDMETHODCALLTYPE HidPort::SendFeature(BSTR* writeString, BSTR* result) {
    if (writeString == nullptr || result == nullptr) return E_POINTER;
    *result = nullptr;
    EnsureDevice();
    const USHORT length = OpenLength(featureReportLength);
    if (length == 0) return RaiseError(BridgeError::NoFeatureReport);
    // The fit is checked on the converted bytes, which a multi-byte code page
    // can make more than the characters.
    const int characters = static_cast<int>(SysStringLen(*writeString));
    int bytes = 0;
    if (characters > 0) {
        bytes =
            WideCharToMultiByte(CP_ACP, 0, *writeString, characters, nullptr, 0, nullptr, nullptr);
    }
    if (bytes > length - 1) {
        return RaiseError(BridgeError::FeatureTooLong, bytes, static_cast<long>(length) - 1);
    }
    std::vector<BYTE> buffer(length, 0);
    if (bytes > 0) {
        WideCharToMultiByte(CP_ACP, 0, *writeString, characters,
                            reinterpret_cast<LPSTR>(buffer.data() + 1), bytes, nullptr, nullptr);
    }
    HidD_SetFeature(ioHandle, buffer.data(), length);
    return ReturnHex(buffer, 0, result);
}

HRESULT STDMETHODCALLTYPE HidPort::GetFeature(BSTR* result) {
    if (result == nullptr) return E_POINTER;
    *result = nullptr;
    EnsureDevice();
    const USHORT length = OpenLength(featureReportLength);
    if (length == 0) return RaiseError(BridgeError::NoFeatureReport);
    std::vector<BYTE> buffer(length, 0);
    HidD_GetFeature(ioHandle, buffer.data(), length);
    return ReturnHex(buffer, 0, result);
}

}  // namespace hidbridge
