// The dual interface _HidPort, as hidbridge.idl describes it: IDispatch's
// methods, then these, in this vtable order.
#pragma once

#include "win32_api.h"

struct _HidPort : public IDispatch {
    virtual HRESULT STDMETHODCALLTYPE FindTheHid(VARIANT_BOOL* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE Shutdown() = 0;
    virtual HRESULT STDMETHODCALLTYPE SendFeature(BSTR* writeString, BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetFeature(BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadData(SHORT* readTimeout, BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE ReadDataDirect(BSTR* result) = 0;
    virtual HRESULT STDMETHODCALLTYPE WriteData(BSTR* writeString, BSTR* result) = 0;
};
