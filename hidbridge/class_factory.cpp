#include "class_factory.h"

#include <new>

#include "hid_port.h"
#include "module.h"

namespace hidbridge {

ClassFactory& TheClassFactory() {
    static ClassFactory factory;
    return factory;
}

HRESULT STDMETHODCALLTYPE ClassFactory::QueryInterface(REFIID riid, void** object) {
    if (object == nullptr) return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    *object = nullptr;
    return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE ClassFactory::AddRef() {
    LockModule();
    return 2;  // a static object: the count is the module's
}

ULONG STDMETHODCALLTYPE ClassFactory::Release() {
    UnlockModule();
    return 1;
}

HRESULT STDMETHODCALLTYPE ClassFactory::CreateInstance(IUnknown* outer, REFIID riid,
                                                       void** object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    HidPort* port = new (std::nothrow) HidPort();
    if (port == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = port->QueryInterface(riid, object);
    port->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE ClassFactory::LockServer(BOOL lock) {
    if (lock) {
        LockModule();
    } else {
        UnlockModule();
    }
    return S_OK;
}

}  // namespace hidbridge
