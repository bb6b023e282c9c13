// COM activation: apartments as a per-thread initialisation count, and
// CoCreateInstance / CoGetClassObject through
// HKEY_CLASSES_ROOT\CLSID\{clsid}\InprocServer32 and the simulated loader.
// COM keeps one load of each server it loaded until CoFreeUnusedLibraries
// (or the thread's last CoUninitialize) finds its DllCanUnloadNow at S_OK.
#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "loader.h"
#include "win32/automation.h"
#include "win32/registry.h"

namespace {

thread_local int apartmentInits = 0;

std::mutex& ComMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<HMODULE>& ServerModules() {
    static std::vector<HMODULE> modules;
    return modules;
}

std::string GuidText(REFGUID guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

bool ReadDefaultValue(const std::string& keyPath, std::string& value) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    char buffer[MAX_PATH + 1] = {};
    DWORD size = MAX_PATH;
    DWORD type = REG_NONE;
    LSTATUS status =
        RegQueryValueExA(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(buffer), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return false;
    value = buffer;
    return true;
}

HRESULT ServerModule(REFCLSID clsid, HMODULE& module) {
    std::string path;
    if (!ReadDefaultValue("CLSID\\" + GuidText(clsid) + "\\InprocServer32", path)) {
        return REGDB_E_CLASSNOTREG;
    }
    std::lock_guard lock(ComMutex());
    module = LoadLibraryA(path.c_str());
    if (module == nullptr) return CO_E_DLLNOTFOUND;
    for (HMODULE held : ServerModules()) {
        if (held == module) {
            FreeLibrary(module);  // COM holds one load per server already
            return S_OK;
        }
    }
    ServerModules().push_back(module);
    return S_OK;
}

}  // namespace

EXTERN_C HRESULT WINAPI CoInitializeEx(LPVOID, DWORD coInit) {
    if (coInit != COINIT_APARTMENTTHREADED) return RPC_E_CHANGED_MODE;
    return apartmentInits++ == 0 ? S_OK : S_FALSE;
}

EXTERN_C HRESULT WINAPI CoInitialize(LPVOID reserved) {
    return CoInitializeEx(reserved, COINIT_APARTMENTTHREADED);
}

EXTERN_C void WINAPI CoUninitialize() {
    if (apartmentInits == 0) return;
    if (--apartmentInits == 0) CoFreeUnusedLibraries();
}

EXTERN_C HRESULT WINAPI CoGetClassObject(REFCLSID clsid, DWORD clsContext, LPVOID, REFIID riid,
                                         LPVOID* object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (apartmentInits == 0) return CO_E_NOTINITIALIZED;
    if ((clsContext & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
    HMODULE module = nullptr;
    HRESULT hr = ServerModule(clsid, module);
    if (FAILED(hr)) return hr;
    auto getClassObject = reinterpret_cast<LPFNGETCLASSOBJECT>(
        reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
    if (getClassObject == nullptr) return CO_E_ERRORINDLL;
    return getClassObject(clsid, riid, object);
}

EXTERN_C HRESULT WINAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD clsContext,
                                         REFIID riid, LPVOID* object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(clsid, clsContext, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr)) return hr;
    hr = factory->CreateInstance(outer, riid, object);
    factory->Release();
    return hr;
}

EXTERN_C void WINAPI CoFreeUnusedLibraries() {
    std::lock_guard lock(ComMutex());
    auto& modules = ServerModules();
    for (auto it = modules.begin(); it != modules.end();) {
        auto canUnloadNow = reinterpret_cast<LPFNCANUNLOADNOW>(
            reinterpret_cast<void (*)()>(GetProcAddress(*it, "DllCanUnloadNow")));
        if (canUnloadNow != nullptr && canUnloadNow() == S_OK) {
            FreeLibrary(*it);
            it = modules.erase(it);
        } else {
            ++it;
        }
    }
}

EXTERN_C int WINAPI StringFromGUID2(REFGUID guid, LPOLESTR text, int capacity) {
    std::string narrow = GuidText(guid);
    if (text == nullptr || capacity < static_cast<int>(narrow.size()) + 1) return 0;
    for (std::size_t i = 0; i < narrow.size(); ++i) text[i] = static_cast<OLECHAR>(narrow[i]);
    text[narrow.size()] = 0;
    return static_cast<int>(narrow.size()) + 1;
}

EXTERN_C HRESULT WINAPI CLSIDFromString(LPCOLESTR text, LPCLSID clsid) {
    if (text == nullptr || clsid == nullptr) return E_INVALIDARG;
    // {8-4-4-4-12}: 38 characters with the braces.
    static constexpr int kDigitGroups[] = {8, 4, 4, 4, 12};
    int position = 0;
    auto digit = [&](int at) -> int {
        OLECHAR c = text[at];
        if (c >= u'0' && c <= u'9') return c - u'0';
        if (c >= u'a' && c <= u'f') return c - u'a' + 10;
        if (c >= u'A' && c <= u'F') return c - u'A' + 10;
        return -1;
    };
    if (text[position++] != u'{') return CO_E_CLASSSTRING;
    std::vector<int> nibbles;
    for (int group = 0; group < 5; ++group) {
        if (group > 0 && text[position++] != u'-') return CO_E_CLASSSTRING;
        for (int i = 0; i < kDigitGroups[group]; ++i) {
            int value = digit(position++);
            if (value < 0) return CO_E_CLASSSTRING;
            nibbles.push_back(value);
        }
    }
    if (text[position++] != u'}' || text[position] != 0) return CO_E_CLASSSTRING;
    auto take = [&](int first, int count) {
        unsigned long value = 0;
        for (int i = 0; i < count; ++i)
            value = (value << 4) | static_cast<unsigned>(nibbles[first + i]);
        return value;
    };
    clsid->Data1 = static_cast<ULONG>(take(0, 8));
    clsid->Data2 = static_cast<USHORT>(take(8, 4));
    clsid->Data3 = static_cast<USHORT>(take(12, 4));
    for (int i = 0; i < 8; ++i) clsid->Data4[i] = static_cast<UCHAR>(take(16 + 2 * i, 2));
    return S_OK;
}

EXTERN_C HRESULT WINAPI CLSIDFromProgID(LPCOLESTR progId, LPCLSID clsid) {
    if (progId == nullptr || clsid == nullptr) return E_INVALIDARG;
    char narrow[MAX_PATH] = {};
    int count = WideCharToMultiByte(CP_ACP, 0, progId, -1, narrow, MAX_PATH - 1, nullptr, nullptr);
    if (count == 0) return CO_E_CLASSSTRING;
    std::string text;
    if (!ReadDefaultValue(std::string(narrow) + "\\CLSID", text)) return CO_E_CLASSSTRING;
    std::u16string wide(text.begin(), text.end());
    return CLSIDFromString(wide.c_str(), clsid);
}

EXTERN_C HRESULT WINAPI LoadRegTypeLib(REFGUID libId, WORD majorVersion, WORD minorVersion,
                                       LCID lcid, ITypeLib** typeLib) {
    if (typeLib == nullptr) return E_INVALIDARG;
    *typeLib = nullptr;
    char version[64];
    std::snprintf(version, sizeof version, "\\%u.%u\\%lx\\win32", majorVersion, minorVersion,
                  static_cast<unsigned long>(lcid));
    std::string path;
    if (!ReadDefaultValue("TypeLib\\" + GuidText(libId) + version, path)) {
        return TYPE_E_LIBNOTREGISTERED;
    }
    return TYPE_E_CANTLOADLIBRARY;  // no type-library loader in the simulation
}
