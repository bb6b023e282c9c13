// HidPort: the one creatable class of hidbridge. It finds the scanner by
// ScannerIdPairs and exchanges input, output and feature reports with it as
// hexadecimal texts, through the dual interface _HidPort. Apartment-threaded:
// every call comes on the creating thread, so the state needs no lock.
#pragma once

#include <string>
#include <vector>

#include "hid_port_interface.h"
#include "win32_api.h"

namespace hidbridge {

class HidPort final : public _HidPort, public ISupportErrorInfo {
  public:
    HidPort();
    ~HidPort();
    HidPort(const HidPort&) = delete;
    HidPort& operator=(const HidPort&) = delete;

    // IUnknown
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IDispatch (hid_port_dispatch.cpp)
    HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
    HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** typeInfo) override;
    HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID lcid,
                                            DISPID* dispIds) override;
    HRESULT STDMETHODCALLTYPE Invoke(DISPID dispId, REFIID riid, LCID lcid, WORD flags,
                                     DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                                     UINT* argErr) override;

    // ISupportErrorInfo
    HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) override;

    // _HidPort: discovery and lifetime (hid_port_discovery.cpp)
    HRESULT STDMETHODCALLTYPE FindTheHid(VARIANT_BOOL* result) override;
    HRESULT STDMETHODCALLTYPE Shutdown() override;
    // _HidPort: report exchange (hid_port_reports.cpp)
    HRESULT STDMETHODCALLTYPE SendFeature(BSTR* writeString, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE GetFeature(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE ReadData(SHORT* readTimeout, BSTR* result) override;
    HRESULT STDMETHODCALLTYPE ReadDataDirect(BSTR* result) override;
    HRESULT STDMETHODCALLTYPE WriteData(BSTR* writeString, BSTR* result) override;

  private:
    void QueryCapabilities();
    void PrepareOverlappedRead();
    // Calls FindTheHid through the object's own interface when no device is open.
    void EnsureDevice();
    void CloseDeviceHandles();
    // A report length of the open device; 0 while no device is open.
    USHORT OpenLength(USHORT length) const;
    HRESULT ReadReportTimed(SHORT readTimeout, BSTR* result);
    HRESULT ReadReportDirect(BSTR* result);
    HRESULT WriteReport(BSTR* result);
    HRESULT LoadTypeInfo();

    ULONG references_ = 1;

    VARIANT_BOOL deviceFound = VARIANT_FALSE;
    std::string devicePath;
    HANDLE ioHandle = nullptr;
    HANDLE readHandle = nullptr;
    HANDLE readEvent = nullptr;
    OVERLAPPED readOverlapped{};
    // HIDP_CAPS gives the lengths unsigned; they are kept so, so that a length
    // above 32767 never turns negative.
    USHORT inputReportLength = 0;
    USHORT outputReportLength = 0;
    USHORT featureReportLength = 0;
    SECURITY_ATTRIBUTES securityAttributes{};
    std::vector<BYTE> outputReportData;

    ITypeInfo* typeInfo_ = nullptr;
};

}  // namespace hidbridge
