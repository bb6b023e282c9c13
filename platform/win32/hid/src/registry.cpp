// The user-mode registry: an in-memory tree under HKEY_CLASSES_ROOT. Key
// and value names compare without regard to case; open keys are counted.
#include <algorithm>
#include <cctype>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "registry_state.h"
#include "violations.h"
#include "win32/kernel32.h"
#include "win32/registry.h"
#include "win32/sim/hid_devices.h"

namespace {

struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(),
                                            [](char x, char y) {
                                                return std::tolower(static_cast<unsigned char>(x)) <
                                                       std::tolower(static_cast<unsigned char>(y));
                                            });
    }
};

struct Value {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

struct Key {
    std::map<std::string, std::unique_ptr<Key>, NoCaseLess> subkeys;
    std::map<std::string, Value, NoCaseLess> values;
    bool deleted = false;
};

struct Registry {
    std::mutex mutex;
    std::unique_ptr<Key> classesRoot = std::make_unique<Key>();
    // Deleted keys that open handles still refer to.
    std::vector<std::unique_ptr<Key>> detached;
    std::map<HKEY, Key*> openKeys;
    ULONG_PTR nextKey = 0x1000;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

Key* KeyOf(Registry& registry, HKEY key) {
    if (key == HKEY_CLASSES_ROOT) return registry.classesRoot.get();
    auto it = registry.openKeys.find(key);
    if (it == registry.openKeys.end()) {
        win32sim::detail::RecordViolation("registry: key handle is not open");
        return nullptr;
    }
    return it->second->deleted ? nullptr : it->second;
}

std::vector<std::string> SplitPath(LPCSTR path) {
    std::vector<std::string> parts;
    std::string part;
    for (const char* c = path != nullptr ? path : ""; *c != '\0'; ++c) {
        if (*c == '\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += *c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

HKEY OpenHandle(Registry& registry, Key* key) {
    HKEY handle = reinterpret_cast<HKEY>(registry.nextKey);
    registry.nextKey += 4;
    registry.openKeys.emplace(handle, key);
    return handle;
}

std::string ValueName(LPCSTR name) {
    return name != nullptr ? name : "";
}

}  // namespace

EXTERN_C LSTATUS WINAPI RegCreateKeyExA(HKEY key, LPCSTR subKey, DWORD, LPSTR, DWORD, REGSAM,
                                        const SECURITY_ATTRIBUTES*, PHKEY result,
                                        LPDWORD disposition) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    Key* current = KeyOf(registry, key);
    if (current == nullptr) return ERROR_INVALID_HANDLE;
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    bool created = false;
    for (const std::string& part : SplitPath(subKey)) {
        auto& child = current->subkeys[part];
        if (!child) {
            child = std::make_unique<Key>();
            created = true;
        }
        current = child.get();
    }
    *result = OpenHandle(registry, current);
    if (disposition != nullptr)
        *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return ERROR_SUCCESS;
}

EXTERN_C LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD, REGSAM, PHKEY result) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    Key* current = KeyOf(registry, key);
    if (current == nullptr) return ERROR_INVALID_HANDLE;
    if (result == nullptr) return ERROR_INVALID_PARAMETER;
    for (const std::string& part : SplitPath(subKey)) {
        auto it = current->subkeys.find(part);
        if (it == current->subkeys.end()) return ERROR_FILE_NOT_FOUND;
        current = it->second.get();
    }
    *result = OpenHandle(registry, current);
    return ERROR_SUCCESS;
}

EXTERN_C LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD, DWORD type,
                                       const BYTE* data, DWORD dataSize) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    Key* current = KeyOf(registry, key);
    if (current == nullptr) return ERROR_INVALID_HANDLE;
    if (data == nullptr && dataSize != 0) return ERROR_INVALID_PARAMETER;
    Value value;
    value.type = type;
    value.data.assign(data, data + dataSize);
    // A REG_SZ value always carries its terminator.
    if (type == REG_SZ && (value.data.empty() || value.data.back() != 0)) value.data.push_back(0);
    current->values[ValueName(valueName)] = std::move(value);
    return ERROR_SUCCESS;
}

EXTERN_C LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD, LPDWORD type,
                                         LPBYTE data, LPDWORD dataSize) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    Key* current = KeyOf(registry, key);
    if (current == nullptr) return ERROR_INVALID_HANDLE;
    auto it = current->values.find(ValueName(valueName));
    if (it == current->values.end()) return ERROR_FILE_NOT_FOUND;
    const Value& value = it->second;
    if (type != nullptr) *type = value.type;
    if (dataSize == nullptr) return data == nullptr ? ERROR_SUCCESS : ERROR_INVALID_PARAMETER;
    DWORD size = static_cast<DWORD>(value.data.size());
    if (data == nullptr) {
        *dataSize = size;
        return ERROR_SUCCESS;
    }
    if (*dataSize < size) {
        *dataSize = size;
        return ERROR_MORE_DATA;
    }
    std::copy(value.data.begin(), value.data.end(), data);
    *dataSize = size;
    return ERROR_SUCCESS;
}

EXTERN_C LSTATUS WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    Key* parent = KeyOf(registry, key);
    if (parent == nullptr) return ERROR_INVALID_HANDLE;
    std::vector<std::string> parts = SplitPath(subKey);
    if (parts.empty()) return ERROR_INVALID_PARAMETER;
    for (std::size_t i = 0; i + 1 < parts.size(); ++i) {
        auto it = parent->subkeys.find(parts[i]);
        if (it == parent->subkeys.end()) return ERROR_FILE_NOT_FOUND;
        parent = it->second.get();
    }
    auto it = parent->subkeys.find(parts.back());
    if (it == parent->subkeys.end()) return ERROR_FILE_NOT_FOUND;
    if (!it->second->subkeys.empty()) return ERROR_ACCESS_DENIED;
    // Open handles to the key stay valid handles but see a deleted key.
    Key* target = it->second.get();
    bool open = std::any_of(registry.openKeys.begin(), registry.openKeys.end(),
                            [&](auto& entry) { return entry.second == target; });
    if (open) {
        target->deleted = true;
        registry.detached.push_back(std::move(it->second));
    }
    parent->subkeys.erase(it);
    return ERROR_SUCCESS;
}

EXTERN_C LSTATUS WINAPI RegCloseKey(HKEY key) {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (key == HKEY_CLASSES_ROOT) return ERROR_SUCCESS;
    auto it = registry.openKeys.find(key);
    if (it == registry.openKeys.end()) {
        win32sim::detail::RecordViolation("RegCloseKey: key handle is not open");
        return ERROR_INVALID_HANDLE;
    }
    registry.openKeys.erase(it);
    return ERROR_SUCCESS;
}

void win32sim::detail::ClearRegistry() {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.classesRoot = std::make_unique<Key>();
    registry.detached.clear();
    registry.openKeys.clear();
}

int win32sim::OpenRegistryKeyCount() {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    return static_cast<int>(registry.openKeys.size());
}
