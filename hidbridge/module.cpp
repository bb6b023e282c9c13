// DllMain, DllGetClassObject and DllCanUnloadNow, and the module counts.
#include "module.h"

#include <atomic>

#include "class_factory.h"
#include "identifiers.h"

namespace hidbridge {
namespace {

HMODULE moduleHandle = nullptr;
// Instances in different apartments may come and go on different threads.
std::atomic<long> liveObjects{0};
std::atomic<long> serverLocks{0};

}  // namespace

HMODULE ModuleHandle() {
    return moduleHandle;
}
void ObjectCreated() {
    ++liveObjects;
}
void ObjectDestroyed() {
    --liveObjects;
}
void LockModule() {
    ++serverLocks;
}
void UnlockModule() {
    --serverLocks;
}
bool ModuleInUse() {
    return liveObjects > 0 || serverLocks > 0;
}

}  // namespace hidbridge

HIDBRIDGE_DLLMAIN DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) hidbridge::moduleHandle = instance;
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, LPVOID* object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (!IsEqualCLSID(clsid, hidbridge::CLSID_HidPort)) return CLASS_E_CLASSNOTAVAILABLE;
    return hidbridge::TheClassFactory().QueryInterface(riid, object);
}

STDAPI DllCanUnloadNow() {
    return hidbridge::ModuleInUse() ? S_FALSE : S_OK;
}
