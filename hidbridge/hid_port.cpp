// HidPort's lifetime and IUnknown / ISupportErrorInfo.
#include "hid_port.h"

#include "identifiers.h"
#include "module.h"

namespace hidbridge {

namespace {

void CloseIfOpen(HANDLE& handle) {
    if (handle != nullptr && handle != INVALID_HANDLE_VALUE) CloseHandle(handle);
    handle = nullptr;
}

}  // namespace

HidPort::HidPort() {
    ObjectCreated();
}

// The instance closes what it still holds, so releasing it leaks no handle.
HidPort::~HidPort() {
    CloseDeviceHandles();
    CloseIfOpen(readEvent);
    if (typeInfo_ != nullptr) typeInfo_->Release();
    ObjectDestroyed();
}

void HidPort::CloseDeviceHandles() {
    CloseIfOpen(ioHandle);
    CloseIfOpen(readHandle);
}

USHORT HidPort::OpenLength(USHORT length) const {
    return deviceFound ? length : 0;
}

HRESULT STDMETHODCALLTYPE HidPort::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
        IsEqualIID(riid, IID__HidPort)) {
        *object = static_cast<_HidPort*>(this);
    } else if (IsEqualIID(riid, IID_ISupportErrorInfo)) {
        *object = static_cast<ISupportErrorInfo*>(this);
    } else {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE HidPort::AddRef() {
    return ++references_;
}

ULONG STDMETHODCALLTYPE HidPort::Release() {
    ULONG left = --references_;
    if (left == 0) delete this;
    return left;
}

HRESULT STDMETHODCALLTYPE HidPort::InterfaceSupportsErrorInfo(REFIID riid) {
    return IsEqualIID(riid, IID__HidPort) ? S_OK : S_FALSE;
}

}  // namespace hidbridge
