// A Windows client of hidbridge with no scanner attached: creates HidPort by
// its ProgID, calls it through the vtable (declared by the type library's own
// header) and through IDispatch, both the server's and the registered type
// library's. Prints one line per check; exits 1 when a check failed.
#include <windows.h>

#include <oleauto.h>

#include <cstdio>

#include "hidbridge_h.h"

namespace {

int failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) ++failures;
}

bool IsEmptyText(BSTR text) {
    return SysStringLen(text) == 0;
}

// The description of the calling thread's error information, if any.
bool HasReadableErrorInfo(IUnknown* object) {
    ISupportErrorInfo* support = nullptr;
    if (FAILED(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support))))
        return false;
    const bool supported = support->InterfaceSupportsErrorInfo(IID__HidPort) == S_OK;
    support->Release();
    IErrorInfo* info = nullptr;
    if (!supported || GetErrorInfo(0, &info) != S_OK || info == nullptr) return false;
    BSTR description = nullptr;
    const bool readable =
        SUCCEEDED(info->GetDescription(&description)) && !IsEmptyText(description);
    if (readable) std::printf("   description: %ls\n", description);
    SysFreeString(description);
    info->Release();
    return readable;
}

void CallThroughVtable(_HidPort* port) {
    VARIANT_BOOL found = VARIANT_TRUE;
    Check(SUCCEEDED(port->FindTheHid(&found)) && found == VARIANT_FALSE,
          "vtable FindTheHid answers False");

    BSTR feature = nullptr;
    Check(FAILED(port->GetFeature(&feature)) && feature == nullptr, "vtable GetFeature fails");
    Check(HasReadableErrorInfo(port), "the failure carries a readable description");

    SHORT timeout = 0;
    BSTR data = nullptr;
    Check(SUCCEEDED(port->ReadData(&timeout, &data)) && IsEmptyText(data) && timeout == 0,
          "vtable ReadData returns the empty text");
    SysFreeString(data);
}

// Invokes a method without arguments through a dispatch interface or through
// the type library's ITypeInfo on the vtable.
HRESULT InvokeMethod(IDispatch* dispatch, ITypeInfo* typeInfo, _HidPort* port, DISPID id,
                     VARIANTARG* arguments, UINT argumentCount, VARIANT* result,
                     EXCEPINFO* exception) {
    DISPPARAMS parameters = {arguments, nullptr, argumentCount, 0};
    UINT argumentError = 0;
    if (typeInfo != nullptr)
        return typeInfo->Invoke(port, id, DISPATCH_METHOD, &parameters, result, exception,
                                &argumentError);
    return dispatch->Invoke(id, IID_NULL, 0x409, DISPATCH_METHOD, &parameters, result, exception,
                            &argumentError);
}

void CallThroughDispatch(_HidPort* port, IDispatch* dispatch, ITypeInfo* typeInfo,
                         const char* through) {
    std::printf("-- through %s\n", through);
    OLECHAR findName[] = L"FindTheHid";
    OLECHAR* names[] = {findName};
    DISPID findId = DISPID_UNKNOWN;
    const HRESULT named = typeInfo != nullptr
                              ? typeInfo->GetIDsOfNames(names, 1, &findId)
                              : dispatch->GetIDsOfNames(IID_NULL, names, 1, 0x409, &findId);
    Check(SUCCEEDED(named) && findId == 0x60030000, "GetIDsOfNames gives FindTheHid its id");

    VARIANT result;
    VariantInit(&result);
    Check(SUCCEEDED(InvokeMethod(dispatch, typeInfo, port, findId, nullptr, 0, &result, nullptr)) &&
              V_VT(&result) == VT_BOOL && V_BOOL(&result) == VARIANT_FALSE,
          "Invoke FindTheHid answers False");
    VariantClear(&result);

    EXCEPINFO exception = {};
    const HRESULT failed =
        InvokeMethod(dispatch, typeInfo, port, 0x60030009, nullptr, 0, &result, &exception);
    Check(failed == DISP_E_EXCEPTION && SysStringLen(exception.bstrDescription) > 0,
          "Invoke GetFeature fails with a description");
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    VariantClear(&result);

    SHORT timeout = 0;
    VARIANTARG argument;
    VariantInit(&argument);
    V_VT(&argument) = VT_I2 | VT_BYREF;
    V_I2REF(&argument) = &timeout;
    Check(SUCCEEDED(
              InvokeMethod(dispatch, typeInfo, port, 0x6003000A, &argument, 1, &result, nullptr)) &&
              V_VT(&result) == VT_BSTR && IsEmptyText(V_BSTR(&result)),
          "Invoke ReadData returns the empty text");
    VariantClear(&result);
}

}  // namespace

int main() {
    if (FAILED(CoInitialize(nullptr))) return 2;
    CLSID clsid = {};
    Check(SUCCEEDED(CLSIDFromProgID(L"hidbridge.HidPort", &clsid)) &&
              IsEqualCLSID(clsid, CLSID_HidPort),
          "the ProgID names the class");

    _HidPort* port = nullptr;
    const HRESULT created = CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID__HidPort,
                                             reinterpret_cast<void**>(&port));
    Check(SUCCEEDED(created) && port != nullptr, "CoCreateInstance gives _HidPort");
    if (port != nullptr) {
        CallThroughVtable(port);

        IDispatch* dispatch = nullptr;
        Check(SUCCEEDED(port->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch))),
              "QueryInterface gives IDispatch");
        if (dispatch != nullptr) {
            UINT count = 0;
            Check(SUCCEEDED(dispatch->GetTypeInfoCount(&count)) && count == 1,
                  "the server offers its type information");
            CallThroughDispatch(port, dispatch, nullptr, "the server's IDispatch");
            dispatch->Release();
        }

        ITypeLib* library = nullptr;
        ITypeInfo* typeInfo = nullptr;
        Check(SUCCEEDED(LoadRegTypeLib(LIBID_hidbridge, 1, 0, 0x409, &library)) &&
                  SUCCEEDED(library->GetTypeInfoOfGuid(IID__HidPort, &typeInfo)),
              "the registered type library describes _HidPort");
        if (typeInfo != nullptr) {
            CallThroughDispatch(port, nullptr, typeInfo, "the type library");
            typeInfo->Release();
        }
        if (library != nullptr) library->Release();
        Check(port->Release() == 0, "the last reference releases the object");
    }
    CoUninitialize();
    std::printf("%d failed\n", failures);
    return failures == 0 ? 0 : 1;
}
