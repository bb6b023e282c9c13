// HidPort's IDispatch: GetIDsOfNames and Invoke from the dispatch table, and
// the type information of the registered type library. The simulated
// platform cannot load a type library, so there GetTypeInfoCount answers 0 and
// GetTypeInfo the loader's failure; late binding does not depend on it.
#include "com_error.h"
#include "dispatch_table.h"
#include "hid_port.h"
#include "identifiers.h"

namespace hidbridge {

namespace {

OLECHAR FoldCase(OLECHAR c) {
    return c >= 'A' && c <= 'Z' ? static_cast<OLECHAR>(c - 'A' + 'a') : c;
}

bool SameName(const OLECHAR* name, const char* member) {
    std::size_t i = 0;
    for (; member[i] != '\0'; ++i) {
        if (name[i] == 0 || FoldCase(name[i]) != FoldCase(static_cast<OLECHAR>(member[i]))) {
            return false;
        }
    }
    return name[i] == 0;
}

// Resolves an argument to the method's type. The caller's variable is used in
// place when it has that type (by value, by reference, or inside a VARIANT by
// reference); otherwise a converted copy in `converted` is used.
HRESULT ResolveArgument(VARIANTARG& argument, ArgumentKind kind, VARIANT& converted,
                        DispatchArgument& resolved) {
    VARIANT* value = &argument;
    if (value->vt == (VT_VARIANT | VT_BYREF)) {
        if (value->pvarVal == nullptr) return DISP_E_TYPEMISMATCH;
        value = value->pvarVal;
    }
    const VARTYPE wanted = kind == ArgumentKind::Text ? VT_BSTR : VT_I2;
    if (value->vt == wanted) {
        resolved.text = kind == ArgumentKind::Text ? &value->bstrVal : nullptr;
        resolved.number = kind == ArgumentKind::Short ? &value->iVal : nullptr;
        return S_OK;
    }
    if (value->vt == (wanted | VT_BYREF) && value->byref != nullptr) {
        resolved.text = kind == ArgumentKind::Text ? value->pbstrVal : nullptr;
        resolved.number = kind == ArgumentKind::Short ? value->piVal : nullptr;
        return S_OK;
    }
    HRESULT hr = VariantChangeType(&converted, value, 0, wanted);
    if (FAILED(hr)) return hr == DISP_E_OVERFLOW ? DISP_E_OVERFLOW : DISP_E_TYPEMISMATCH;
    resolved.text = kind == ArgumentKind::Text ? &converted.bstrVal : nullptr;
    resolved.number = kind == ArgumentKind::Short ? &converted.iVal : nullptr;
    return S_OK;
}

// Moves the thread's error information into the EXCEPINFO record.
void FillExcepInfo(HRESULT failure, EXCEPINFO& excepInfo) {
    excepInfo = EXCEPINFO{};
    excepInfo.scode = failure;
    IErrorInfo* info = nullptr;
    if (GetErrorInfo(0, &info) == S_OK && info != nullptr) {
        info->GetSource(&excepInfo.bstrSource);
        info->GetDescription(&excepInfo.bstrDescription);
        info->Release();
    }
}

}  // namespace

const DispatchMember* FindMember(const OLECHAR* name) {
    for (const DispatchMember& member : kDispatchTable) {
        if (SameName(name, member.name)) return &member;
    }
    return nullptr;
}

const DispatchMember* FindMember(DISPID dispId) {
    for (const DispatchMember& member : kDispatchTable) {
        if (member.dispId == dispId) return &member;
    }
    return nullptr;
}

HRESULT HidPort::LoadTypeInfo() {
    if (typeInfo_ != nullptr) return S_OK;
    ITypeLib* library = nullptr;
    HRESULT hr = LoadRegTypeLib(LIBID_hidbridge, kTypeLibraryMajorVersion, kTypeLibraryMinorVersion,
                                kTypeLibraryLocale, &library);
    if (FAILED(hr)) return hr;
    hr = library->GetTypeInfoOfGuid(IID__HidPort, &typeInfo_);
    library->Release();
    return hr;
}

HRESULT STDMETHODCALLTYPE HidPort::GetTypeInfoCount(UINT* count) {
    if (count == nullptr) return E_POINTER;
    *count = SUCCEEDED(LoadTypeInfo()) ? 1 : 0;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE HidPort::GetTypeInfo(UINT index, LCID, ITypeInfo** typeInfo) {
    if (typeInfo == nullptr) return E_POINTER;
    *typeInfo = nullptr;
    if (index != 0) return DISP_E_BADINDEX;
    HRESULT hr = LoadTypeInfo();
    if (FAILED(hr)) return hr;
    typeInfo_->AddRef();
    *typeInfo = typeInfo_;
    return S_OK;
}

// Only method names are known; argument names are not (named arguments are
// not supported by Invoke either).
HRESULT STDMETHODCALLTYPE HidPort::GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count, LCID,
                                                 DISPID* dispIds) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    if (count == 0) return S_OK;
    if (names == nullptr || dispIds == nullptr) return E_POINTER;
    HRESULT hr = S_OK;
    const DispatchMember* member = names[0] != nullptr ? FindMember(names[0]) : nullptr;
    dispIds[0] = member != nullptr ? member->dispId : DISPID_UNKNOWN;
    if (member == nullptr) hr = DISP_E_UNKNOWNNAME;
    for (UINT i = 1; i < count; ++i) {
        dispIds[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

HRESULT STDMETHODCALLTYPE HidPort::Invoke(DISPID dispId, REFIID riid, LCID, WORD flags,
                                          DISPPARAMS* params, VARIANT* result, EXCEPINFO* excepInfo,
                                          UINT* argErr) {
    if (!IsEqualIID(riid, IID_NULL)) return DISP_E_UNKNOWNINTERFACE;
    const DispatchMember* member = FindMember(dispId);
    if (member == nullptr || (flags & (DISPATCH_METHOD | DISPATCH_PROPERTYGET)) == 0) {
        return DISP_E_MEMBERNOTFOUND;
    }
    if (params == nullptr) return E_INVALIDARG;
    if (params->cNamedArgs != 0) return DISP_E_NONAMEDARGS;
    const UINT expected = member->argument == ArgumentKind::None ? 0 : 1;
    if (params->cArgs != expected) return DISP_E_BADPARAMCOUNT;
    if (expected > 0 && params->rgvarg == nullptr) return E_INVALIDARG;

    VARIANT converted;
    VariantInit(&converted);
    DispatchArgument argument;
    if (expected > 0) {
        HRESULT hr = ResolveArgument(params->rgvarg[0], member->argument, converted, argument);
        if (FAILED(hr)) {
            if (argErr != nullptr) *argErr = 0;
            return hr;
        }
    }

    VARIANT value;
    VariantInit(&value);
    HRESULT hr = member->call(*this, argument, value);
    VariantClear(&converted);
    if (FAILED(hr)) {
        // The method left no result; the failure goes to the caller as an
        // exception. Without an EXCEPINFO record the error information stays
        // on the thread for GetErrorInfo.
        VariantInit(&value);
        if (excepInfo != nullptr) FillExcepInfo(hr, *excepInfo);
        return DISP_E_EXCEPTION;
    }
    if (result != nullptr) {
        *result = value;
    } else {
        VariantClear(&value);
    }
    return S_OK;
}

}  // namespace hidbridge
