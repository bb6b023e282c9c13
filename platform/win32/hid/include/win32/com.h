// COM core (ole32) of the simulated platform: IUnknown, IClassFactory, the
// apartment calls and a CoCreateInstance that finds an in-process server
// through HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 and loads it with the
// simulated loader. Only CLSCTX_INPROC_SERVER and apartment threading are
// modelled; there is no marshalling.
#pragma once

#include "win32/types.h"

using LPOLESTR = WCHAR*;
using LPCOLESTR = const WCHAR*;
using OLECHAR = WCHAR;

struct IUnknown {
    virtual HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) = 0;
    virtual ULONG STDMETHODCALLTYPE AddRef() = 0;
    virtual ULONG STDMETHODCALLTYPE Release() = 0;
};
using LPUNKNOWN = IUnknown*;

struct IClassFactory : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID riid,
                                                     void** object) = 0;
    virtual HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) = 0;
};

using LPFNGETCLASSOBJECT = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, LPVOID*);
using LPFNCANUNLOADNOW = HRESULT(STDAPICALLTYPE*)();

#define CLSCTX_INPROC_SERVER 0x1UL
#define CLSCTX_INPROC_HANDLER 0x2UL
#define CLSCTX_LOCAL_SERVER 0x4UL
#define CLSCTX_ALL 0x17UL

#define COINIT_MULTITHREADED 0x0UL
#define COINIT_APARTMENTTHREADED 0x2UL

#define CO_E_OBJNOTCONNECTED ((HRESULT)0x800401FDL)
#define RPC_E_CHANGED_MODE ((HRESULT)0x80010106L)

EXTERN_C {
    extern const IID IID_NULL;
    extern const IID IID_IUnknown;
    extern const IID IID_IClassFactory;

    HRESULT WINAPI CoInitialize(LPVOID reserved);
    HRESULT WINAPI CoInitializeEx(LPVOID reserved, DWORD coInit);
    void WINAPI CoUninitialize();
    HRESULT WINAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD clsContext, REFIID riid,
                                    LPVOID * object);
    HRESULT WINAPI CoGetClassObject(REFCLSID clsid, DWORD clsContext, LPVOID serverInfo,
                                    REFIID riid, LPVOID * object);
    // Unloads every server library whose DllCanUnloadNow answers S_OK.
    void WINAPI CoFreeUnusedLibraries();
    // Reads HKEY_CLASSES_ROOT\<progId>\CLSID.
    HRESULT WINAPI CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid);
    // Parses "{xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx}".
    HRESULT WINAPI CLSIDFromString(LPCOLESTR text, LPCLSID clsid);
    int WINAPI StringFromGUID2(REFGUID guid, LPOLESTR text, int capacity);

}  // EXTERN_C
