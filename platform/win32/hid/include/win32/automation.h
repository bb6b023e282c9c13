// Automation (oleaut32) of the simulated platform: BSTR with live-string
// accounting, VARIANT, IDispatch, the error-information objects and the type
// library entry point. The simulation has no type-library loader:
// LoadRegTypeLib finds the registration but answers TYPE_E_CANTLOADLIBRARY.
#pragma once

#include "win32/com.h"

using BSTR = OLECHAR*;
using LPBSTR = BSTR*;
using VARIANT_BOOL = SHORT;
using VARTYPE = USHORT;
using DISPID = LONG;
using MEMBERID = DISPID;
using DATE = double;

#define VARIANT_TRUE ((VARIANT_BOOL)-1)
#define VARIANT_FALSE ((VARIANT_BOOL)0)

enum VARENUM : VARTYPE {
    VT_EMPTY = 0,
    VT_NULL = 1,
    VT_I2 = 2,
    VT_I4 = 3,
    VT_R4 = 4,
    VT_R8 = 5,
    VT_CY = 6,
    VT_DATE = 7,
    VT_BSTR = 8,
    VT_DISPATCH = 9,
    VT_ERROR = 10,
    VT_BOOL = 11,
    VT_VARIANT = 12,
    VT_UNKNOWN = 13,
    VT_DECIMAL = 14,
    VT_I1 = 16,
    VT_UI1 = 17,
    VT_UI2 = 18,
    VT_UI4 = 19,
    VT_I8 = 20,
    VT_UI8 = 21,
    VT_INT = 22,
    VT_UINT = 23,
    VT_ARRAY = 0x2000,
    VT_BYREF = 0x4000,
    VT_TYPEMASK = 0x0FFF,
};

struct IDispatch;

struct VARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        LONGLONG llVal;
        LONG lVal;
        BYTE bVal;
        SHORT iVal;
        float fltVal;
        double dblVal;
        VARIANT_BOOL boolVal;
        SCODE scode;
        DATE date;
        BSTR bstrVal;
        IUnknown* punkVal;
        IDispatch* pdispVal;
        CHAR cVal;
        USHORT uiVal;
        ULONG ulVal;
        ULONGLONG ullVal;
        INT intVal;
        UINT uintVal;
        BYTE* pbVal;
        SHORT* piVal;
        LONG* plVal;
        VARIANT_BOOL* pboolVal;
        BSTR* pbstrVal;
        VARIANT* pvarVal;
        PVOID byref;
    };
};
using VARIANTARG = VARIANT;
using LPVARIANT = VARIANT*;

struct DISPPARAMS {
    VARIANTARG* rgvarg;
    DISPID* rgdispidNamedArgs;
    UINT cArgs;
    UINT cNamedArgs;
};

struct EXCEPINFO {
    WORD wCode;
    WORD wReserved;
    BSTR bstrSource;
    BSTR bstrDescription;
    BSTR bstrHelpFile;
    DWORD dwHelpContext;
    PVOID pvReserved;
    HRESULT(STDMETHODCALLTYPE* pfnDeferredFillIn)(EXCEPINFO*);
    SCODE scode;
};

#define DISPATCH_METHOD 0x1
#define DISPATCH_PROPERTYGET 0x2
#define DISPATCH_PROPERTYPUT 0x4
#define DISPATCH_PROPERTYPUTREF 0x8

#define DISPID_UNKNOWN ((DISPID)-1)
#define DISPID_VALUE ((DISPID)0)
#define DISPID_PROPERTYPUT ((DISPID)-3)

#define LOCALE_SYSTEM_DEFAULT 0x0800UL
#define LOCALE_USER_DEFAULT 0x0400UL
#define LOCALE_NEUTRAL 0x0000UL

// Type information. The simulation hands out no type information, so only
// IUnknown's part of ITypeInfo and the leading methods of ITypeLib, in their
// platform order, are declared.
struct ITypeInfo : IUnknown {};

enum TYPEKIND {
    TKIND_ENUM,
    TKIND_RECORD,
    TKIND_MODULE,
    TKIND_INTERFACE,
    TKIND_DISPATCH,
    TKIND_COCLASS,
    TKIND_ALIAS,
    TKIND_UNION
};

struct ITypeLib : IUnknown {
    virtual UINT STDMETHODCALLTYPE GetTypeInfoCount() = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, ITypeInfo** typeInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoType(UINT index, TYPEKIND* kind) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoOfGuid(REFGUID guid, ITypeInfo** typeInfo) = 0;
};

struct IDispatch : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID lcid, ITypeInfo** typeInfo) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID riid, LPOLESTR* names, UINT count,
                                                    LCID lcid, DISPID* dispIds) = 0;
    virtual HRESULT STDMETHODCALLTYPE Invoke(DISPID dispId, REFIID riid, LCID lcid, WORD flags,
                                             DISPPARAMS* params, VARIANT* result,
                                             EXCEPINFO* excepInfo, UINT* argErr) = 0;
};

struct IErrorInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE GetGUID(GUID* guid) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetSource(BSTR* source) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetDescription(BSTR* description) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHelpFile(BSTR* helpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetHelpContext(DWORD* helpContext) = 0;
};

struct ICreateErrorInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetGUID(REFGUID guid) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetSource(LPOLESTR source) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetDescription(LPOLESTR description) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHelpFile(LPOLESTR helpFile) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetHelpContext(DWORD helpContext) = 0;
};

struct ISupportErrorInfo : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID riid) = 0;
};

EXTERN_C {
    extern const IID IID_IDispatch;
    extern const IID IID_IErrorInfo;
    extern const IID IID_ICreateErrorInfo;
    extern const IID IID_ISupportErrorInfo;

    BSTR WINAPI SysAllocString(const OLECHAR* text);
    BSTR WINAPI SysAllocStringLen(const OLECHAR* text, UINT length);
    // Freeing a string the simulation did not allocate (or freed already) is
    // recorded as a violation and otherwise ignored.
    void WINAPI SysFreeString(BSTR text);
    UINT WINAPI SysStringLen(BSTR text);
    UINT WINAPI SysStringByteLen(BSTR text);

    void WINAPI VariantInit(VARIANTARG * variant);
    HRESULT WINAPI VariantClear(VARIANTARG * variant);
    HRESULT WINAPI VariantCopy(VARIANTARG * destination, const VARIANTARG* source);
    // Converts between the integer types, VT_BOOL and VT_BSTR (decimal text);
    // other combinations answer DISP_E_TYPEMISMATCH. By-reference sources are
    // read through. destination may equal source.
    HRESULT WINAPI VariantChangeType(VARIANTARG * destination, const VARIANTARG* source,
                                     USHORT flags, VARTYPE type);

    // The calling thread's error information (reserved must be 0).
    HRESULT WINAPI SetErrorInfo(ULONG reserved, IErrorInfo * errorInfo);
    HRESULT WINAPI GetErrorInfo(ULONG reserved, IErrorInfo * *errorInfo);
    HRESULT WINAPI CreateErrorInfo(ICreateErrorInfo * *errorInfo);

    HRESULT WINAPI LoadRegTypeLib(REFGUID libId, WORD majorVersion, WORD minorVersion, LCID lcid,
                                  ITypeLib * *typeLib);

}  // EXTERN_C
