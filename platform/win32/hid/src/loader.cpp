// The loader: LoadLibraryA, FreeLibrary, GetProcAddress and GetModuleFileNameA
// over dlopen. A module's DllMain is called with DLL_PROCESS_ATTACH on its
// first load and DLL_PROCESS_DETACH before it is unloaded.
#include "loader.h"

#include <dlfcn.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "win32/sim/hid_devices.h"

struct HINSTANCE__ {
    void* library = nullptr;
    std::string path;
    int loads = 0;
};

namespace {

using DllMainFunction = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

std::recursive_mutex& LoaderMutex() {
    static std::recursive_mutex mutex;
    return mutex;
}

std::vector<std::unique_ptr<HINSTANCE__>>& Modules() {
    static std::vector<std::unique_ptr<HINSTANCE__>> modules;
    return modules;
}

HINSTANCE__* FindModule(HMODULE module) {
    for (auto& entry : Modules()) {
        if (entry.get() == module) return entry.get();
    }
    return nullptr;
}

void CallDllMain(HINSTANCE__* module, DWORD reason) {
    auto entry = reinterpret_cast<DllMainFunction>(dlsym(module->library, "DllMain"));
    if (entry != nullptr) entry(module, reason, nullptr);
}

}  // namespace

std::vector<HMODULE> win32sim::detail::LoadedModules() {
    std::lock_guard lock(LoaderMutex());
    std::vector<HMODULE> result;
    for (auto& entry : Modules()) result.push_back(entry.get());
    return result;
}

EXTERN_C HMODULE WINAPI LoadLibraryA(LPCSTR fileName) {
    if (fileName == nullptr) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return nullptr;
    }
    std::lock_guard lock(LoaderMutex());
    void* library = dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
    if (library == nullptr) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return nullptr;
    }
    for (auto& entry : Modules()) {
        if (entry->library == library) {
            dlclose(library);  // one dlopen reference per module record
            ++entry->loads;
            return entry.get();
        }
    }
    auto module = std::make_unique<HINSTANCE__>();
    module->library = library;
    module->path = fileName;
    module->loads = 1;
    HINSTANCE__* result = module.get();
    Modules().push_back(std::move(module));
    CallDllMain(result, DLL_PROCESS_ATTACH);
    return result;
}

EXTERN_C BOOL WINAPI FreeLibrary(HMODULE module) {
    std::lock_guard lock(LoaderMutex());
    HINSTANCE__* entry = FindModule(module);
    if (entry == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return FALSE;
    }
    if (--entry->loads > 0) return TRUE;
    CallDllMain(entry, DLL_PROCESS_DETACH);
    dlclose(entry->library);
    auto& modules = Modules();
    for (auto it = modules.begin(); it != modules.end(); ++it) {
        if (it->get() == entry) {
            modules.erase(it);
            break;
        }
    }
    return TRUE;
}

EXTERN_C FARPROC WINAPI GetProcAddress(HMODULE module, LPCSTR procName) {
    std::lock_guard lock(LoaderMutex());
    HINSTANCE__* entry = FindModule(module);
    if (entry == nullptr || procName == nullptr) {
        SetLastError(ERROR_INVALID_HANDLE);
        return nullptr;
    }
    void* symbol = dlsym(entry->library, procName);
    if (symbol == nullptr) {
        SetLastError(ERROR_PROC_NOT_FOUND);
        return nullptr;
    }
    return reinterpret_cast<FARPROC>(symbol);
}

// Without a module (null) the simulation has no executable path to give.
EXTERN_C DWORD WINAPI GetModuleFileNameA(HMODULE module, LPSTR fileName, DWORD size) {
    std::lock_guard lock(LoaderMutex());
    HINSTANCE__* entry = FindModule(module);
    if (entry == nullptr || fileName == nullptr || size == 0) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return 0;
    }
    // As on the platform: a path that does not fit is cut and still terminated.
    std::size_t count = std::min<std::size_t>(entry->path.size(), size - 1);
    std::memcpy(fileName, entry->path.c_str(), count);
    fileName[count] = '\0';
    if (count < entry->path.size()) {
        SetLastError(ERROR_INSUFFICIENT_BUFFER);
        return size;
    }
    return static_cast<DWORD>(count);
}

int win32sim::LoadedLibraryCount() {
    std::lock_guard lock(LoaderMutex());
    return static_cast<int>(Modules().size());
}
