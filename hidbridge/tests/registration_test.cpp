// Registration, activation by ProgID, interface identity and unloading.
#include <vector>

#include "com_support.h"

namespace hidbridge::test {
namespace {

std::string DefaultValue(const std::string& keyPath, const char* valueName = nullptr) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return "(missing)";
    }
    char data[512] = {};
    DWORD size = sizeof data - 1;
    DWORD type = REG_NONE;
    LSTATUS status =
        RegQueryValueExA(key, valueName, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_SZ) return "(missing)";
    return data;
}

bool KeyExists(const std::string& keyPath) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, keyPath.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS) {
        return false;
    }
    RegCloseKey(key);
    return true;
}

constexpr const char* kClsid = "{6E084B4D-925A-4E03-8FB7-68691E0DF23D}";
constexpr const char* kLibid = "{DF9A4541-727D-4D9B-80E0-9653D7D54C8B}";
constexpr const char* kIid = "{FC528071-7153-44C8-B9C2-9D2C5E9534EC}";

using RegistrationTest = HidPortTest;

TEST_F(RegistrationTest, RegistersClassProgIdAndTypeLibrary) {
    const std::string clsidKey = std::string("CLSID\\") + kClsid;
    EXPECT_EQ(DefaultValue(clsidKey + "\\InprocServer32"), HIDBRIDGE_LIBRARY_PATH);
    EXPECT_EQ(DefaultValue(clsidKey + "\\InprocServer32", "ThreadingModel"), "Apartment");
    EXPECT_EQ(DefaultValue(clsidKey + "\\ProgID"), "hidbridge.HidPort");
    EXPECT_EQ(DefaultValue(clsidKey + "\\TypeLib"), kLibid);
    EXPECT_EQ(DefaultValue("hidbridge.HidPort\\CLSID"), kClsid);
    EXPECT_EQ(DefaultValue(std::string("TypeLib\\") + kLibid + "\\1.0\\409\\win32"),
              HIDBRIDGE_LIBRARY_PATH);
    EXPECT_EQ(DefaultValue(std::string("Interface\\") + kIid + "\\TypeLib"), kLibid);

    // Registering again is harmless.
    EXPECT_EQ(CallServerExport("DllRegisterServer"), S_OK);
    EXPECT_EQ(DefaultValue("hidbridge.HidPort\\CLSID"), kClsid);
}

TEST_F(RegistrationTest, UnregisterRemovesEveryKeyAndCreationFails) {
    ASSERT_EQ(CallServerExport("DllUnregisterServer"), S_OK);
    for (const std::string& key :
         {std::string("CLSID\\") + kClsid, std::string("hidbridge.HidPort"),
          std::string("TypeLib\\") + kLibid, std::string("Interface\\") + kIid}) {
        EXPECT_FALSE(KeyExists(key)) << key;
    }
    CLSID clsid{};
    EXPECT_EQ(CLSIDFromProgID(u"hidbridge.HidPort", &clsid), CO_E_CLASSSTRING);
    ComPtr<IUnknown> object;
    EXPECT_EQ(CoCreateInstance(CLSID_HidPort, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                               object.OutVoid()),
              REGDB_E_CLASSNOTREG);
    // Unregistering twice is harmless too.
    EXPECT_EQ(CallServerExport("DllUnregisterServer"), S_OK);
}

TEST_F(RegistrationTest, InterfacesShareOneIdentityAndUnknownOnesAreRefused) {
    ComPtr<_HidPort> port = CreatePort();
    ASSERT_NE(port.Get(), nullptr);

    ComPtr<IUnknown> unknown;
    ASSERT_EQ(port->QueryInterface(IID_IUnknown, unknown.OutVoid()), S_OK);
    ComPtr<IDispatch> dispatch;
    ASSERT_EQ(port->QueryInterface(IID_IDispatch, dispatch.OutVoid()), S_OK);
    ComPtr<ISupportErrorInfo> errorInfo;
    ASSERT_EQ(port->QueryInterface(IID_ISupportErrorInfo, errorInfo.OutVoid()), S_OK);
    ComPtr<IUnknown> unknownFromErrorInfo;
    ASSERT_EQ(errorInfo->QueryInterface(IID_IUnknown, unknownFromErrorInfo.OutVoid()), S_OK);
    EXPECT_EQ(unknown.Get(), unknownFromErrorInfo.Get());
    EXPECT_EQ(static_cast<IUnknown*>(dispatch.Get()), unknown.Get());

    EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID__HidPort), S_OK);
    EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);

    void* none = &none;
    EXPECT_EQ(port->QueryInterface(IID_IClassFactory, &none), E_NOINTERFACE);
    EXPECT_EQ(none, nullptr);
}

TEST_F(RegistrationTest, ServerStaysLoadedWhileAnObjectOrLockLives) {
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(CoGetClassObject(CLSID_HidPort, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.OutVoid()),
              S_OK);
    ComPtr<IUnknown> outer;
    ASSERT_EQ(factory->QueryInterface(IID_IUnknown, outer.OutVoid()), S_OK);
    ComPtr<IUnknown> aggregated;
    EXPECT_EQ(factory->CreateInstance(outer.Get(), IID_IUnknown, aggregated.OutVoid()),
              CLASS_E_NOAGGREGATION);
    outer.Reset();

    ComPtr<_HidPort> port;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID__HidPort, port.OutVoid()), S_OK);
    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    factory.Reset();

    CoFreeUnusedLibraries();
    EXPECT_EQ(win32sim::LoadedLibraryCount(), 1) << "unloaded under a live object";
    port.Reset();
    CoFreeUnusedLibraries();
    EXPECT_EQ(win32sim::LoadedLibraryCount(), 1) << "unloaded under a server lock";

    ASSERT_EQ(CoGetClassObject(CLSID_HidPort, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                               factory.OutVoid()),
              S_OK);
    factory->LockServer(FALSE);
    factory.Reset();
    CoFreeUnusedLibraries();
    EXPECT_EQ(win32sim::LoadedLibraryCount(), 0);

    // Another class identifier is not served.
    auto getClassObject = [](HMODULE module) {
        return reinterpret_cast<LPFNGETCLASSOBJECT>(
            reinterpret_cast<void (*)()>(GetProcAddress(module, "DllGetClassObject")));
    };
    HMODULE module = LoadLibraryA(HIDBRIDGE_LIBRARY_PATH);
    ASSERT_NE(module, nullptr);
    void* object = &object;
    EXPECT_EQ(getClassObject(module)(IID__HidPort, IID_IClassFactory, &object),
              CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    FreeLibrary(module);
}

}  // namespace
}  // namespace hidbridge::test
