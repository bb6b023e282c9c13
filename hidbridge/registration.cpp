// DllRegisterServer and DllUnregisterServer: the class, its ProgID, the type
// library and the interface under HKEY_CLASSES_ROOT. The type-library and
// interface entries are the ones the platform's type-library registration
// writes (the universal marshaller as proxy), written here directly so that
// registration needs no type-library loader.
#include <cstdio>
#include <string>

#include "identifiers.h"
#include "module.h"

namespace hidbridge {

namespace {

// Keys in creation order; unregistration deletes them in reverse order.
// %CLSID%, %LIBID% and %IID% stand for the identifiers in braces.
constexpr const char* kKeys[] = {
    "CLSID\\%CLSID%",
    "CLSID\\%CLSID%\\InprocServer32",
    "CLSID\\%CLSID%\\ProgID",
    "CLSID\\%CLSID%\\TypeLib",
    "CLSID\\%CLSID%\\Version",
    "hidbridge.HidPort",
    "hidbridge.HidPort\\CLSID",
    "TypeLib\\%LIBID%",
    "TypeLib\\%LIBID%\\1.0",
    "TypeLib\\%LIBID%\\1.0\\FLAGS",
    "TypeLib\\%LIBID%\\1.0\\HELPDIR",
    "TypeLib\\%LIBID%\\1.0\\409",
    "TypeLib\\%LIBID%\\1.0\\409\\win32",
    "Interface\\%IID%",
    "Interface\\%IID%\\ProxyStubClsid",
    "Interface\\%IID%\\ProxyStubClsid32",
    "Interface\\%IID%\\TypeLib",
};

struct RegistryValue {
    const char* key;
    const char* name;  // null: the key's default value
    const char* data;  // %MODULE% is the server's path, %MODULEDIR% its folder
};

constexpr const char* kUniversalMarshaller = "{00020424-0000-0000-C000-000000000046}";

constexpr RegistryValue kValues[] = {
    {"CLSID\\%CLSID%", nullptr, "HidPort"},
    {"CLSID\\%CLSID%\\InprocServer32", nullptr, "%MODULE%"},
    {"CLSID\\%CLSID%\\InprocServer32", "ThreadingModel", "Apartment"},
    {"CLSID\\%CLSID%\\ProgID", nullptr, "hidbridge.HidPort"},
    {"CLSID\\%CLSID%\\TypeLib", nullptr, "%LIBID%"},
    {"CLSID\\%CLSID%\\Version", nullptr, "1.0"},
    {"hidbridge.HidPort", nullptr, "HidPort"},
    {"hidbridge.HidPort\\CLSID", nullptr, "%CLSID%"},
    {"TypeLib\\%LIBID%\\1.0", nullptr, "hidbridge"},
    {"TypeLib\\%LIBID%\\1.0\\FLAGS", nullptr, "0"},
    {"TypeLib\\%LIBID%\\1.0\\HELPDIR", nullptr, "%MODULEDIR%"},
    {"TypeLib\\%LIBID%\\1.0\\409\\win32", nullptr, "%MODULE%"},
    {"Interface\\%IID%", nullptr, "_HidPort"},
    {"Interface\\%IID%\\ProxyStubClsid", nullptr, kUniversalMarshaller},
    {"Interface\\%IID%\\ProxyStubClsid32", nullptr, kUniversalMarshaller},
    {"Interface\\%IID%\\TypeLib", nullptr, "%LIBID%"},
    {"Interface\\%IID%\\TypeLib", "Version", "1.0"},
};

std::string GuidText(const GUID& guid) {
    char text[40];
    std::snprintf(text, sizeof text, "{%08lX-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                  static_cast<unsigned long>(guid.Data1), guid.Data2, guid.Data3, guid.Data4[0],
                  guid.Data4[1], guid.Data4[2], guid.Data4[3], guid.Data4[4], guid.Data4[5],
                  guid.Data4[6], guid.Data4[7]);
    return text;
}

struct Substitutions {
    std::string module;
    std::string moduleFolder;
};

std::string Expand(const char* pattern, const Substitutions& with) {
    const std::pair<const char*, std::string> fields[] = {
        {"%CLSID%", GuidText(CLSID_HidPort)},
        {"%LIBID%", GuidText(LIBID_hidbridge)},
        {"%IID%", GuidText(IID__HidPort)},
        {"%MODULEDIR%", with.moduleFolder},
        {"%MODULE%", with.module},
    };
    std::string text = pattern;
    for (const auto& [field, value] : fields) {
        for (std::size_t at = text.find(field); at != std::string::npos;
             at = text.find(field, at)) {
            text.replace(at, std::char_traits<char>::length(field), value);
            at += value.size();
        }
    }
    return text;
}

bool ModulePaths(Substitutions& paths) {
    char path[MAX_PATH + 1] = {};
    DWORD length = GetModuleFileNameA(ModuleHandle(), path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;  // none, or cut off
    paths.module.assign(path, length);
    std::size_t slash = paths.module.find_last_of("\\/");
    paths.moduleFolder = slash == std::string::npos ? std::string() : paths.module.substr(0, slash);
    return true;
}

bool WriteValue(const RegistryValue& value, const Substitutions& with) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CLASSES_ROOT, Expand(value.key, with).c_str(), 0, nullptr,
                        REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS) {
        return false;
    }
    std::string data = Expand(value.data, with);
    LSTATUS status =
        RegSetValueExA(key, value.name, 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>(data.size() + 1));
    RegCloseKey(key);
    return status == ERROR_SUCCESS;
}

}  // namespace

}  // namespace hidbridge

STDAPI DllUnregisterServer() {
    using namespace hidbridge;
    const Substitutions none;
    for (std::size_t i = std::size(kKeys); i-- > 0;) {
        RegDeleteKeyA(HKEY_CLASSES_ROOT, Expand(kKeys[i], none).c_str());
    }
    return S_OK;
}

STDAPI DllRegisterServer() {
    using namespace hidbridge;
    Substitutions paths;
    if (!ModulePaths(paths)) return SELFREG_E_CLASS;
    for (const char* key : kKeys) {
        HKEY created = nullptr;
        if (RegCreateKeyExA(HKEY_CLASSES_ROOT, Expand(key, paths).c_str(), 0, nullptr,
                            REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &created,
                            nullptr) != ERROR_SUCCESS) {
            DllUnregisterServer();
            return SELFREG_E_CLASS;
        }
        RegCloseKey(created);
    }
    for (const RegistryValue& value : kValues) {
        if (!WriteValue(value, paths)) {
            DllUnregisterServer();
            return SELFREG_E_CLASS;
        }
    }
    return S_OK;
}
