// The registry tree, its handle table and the device-key bindings.
#include "registry_store.h"

#include <cstdio>

#include "kernel/rtl.h"
#include "sim/resource_check.h"

namespace kernel::registry {

struct Store::Key {
    std::u16string name;
    std::weak_ptr<Key> parent;
    bool deleted = false;
    std::map<std::u16string, std::shared_ptr<Key>> children;  // by folded name
    std::map<std::u16string, Value> values;                   // by folded name
};

namespace {

constexpr std::u16string_view kInitialKeys[] = {
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Services",
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class",
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Enum",
    u"\\Registry\\Machine\\Hardware\\DeviceMap",
    u"\\Registry\\Machine\\Software\\Microsoft\\Windows NT\\CurrentVersion",
    u"\\Registry\\User\\.Default",
};

// Generic rights and what they mean for a key.
struct GenericMapping {
    ACCESS_MASK generic;
    ACCESS_MASK specific;
};
constexpr GenericMapping kGenericMappings[] = {
    {0x80000000, KEY_READ},        // GENERIC_READ
    {0x40000000, KEY_WRITE},       // GENERIC_WRITE
    {0x20000000, KEY_EXECUTE},     // GENERIC_EXECUTE
    {0x10000000, KEY_ALL_ACCESS},  // GENERIC_ALL
    {0x02000000, KEY_ALL_ACCESS},  // MAXIMUM_ALLOWED
};
constexpr ACCESS_MASK kDeleteAccess = 0x00010000;

ACCESS_MASK MapGenericAccess(ACCESS_MASK access) {
    ACCESS_MASK granted = access;
    for (const auto& mapping : kGenericMappings) {
        if ((access & mapping.generic) != 0)
            granted = (granted & ~mapping.generic) | mapping.specific;
    }
    return granted;
}

// Splits "A\B\C" into its components; false when one of them is empty.
bool SplitComponents(std::u16string_view path, std::vector<std::u16string_view>* components) {
    components->clear();
    if (path.empty()) return true;
    for (;;) {
        const auto separator = path.find(u'\\');
        const auto component = path.substr(0, separator);
        if (component.empty()) return false;
        components->push_back(component);
        if (separator == std::u16string_view::npos) return true;
        path.remove_prefix(separator + 1);
    }
}

HANDLE ToHandle(std::uintptr_t value) {
    return reinterpret_cast<HANDLE>(value);
}

}  // namespace

std::u16string FoldName(std::u16string_view name) {
    std::u16string folded(name);
    for (auto& character : folded) character = RtlUpcaseUnicodeChar(character);
    return folded;
}

std::string Narrow(std::u16string_view text) {
    std::string narrow;
    narrow.reserve(text.size());
    for (const auto character : text)
        narrow.push_back(character < 0x80 ? static_cast<char>(character) : '?');
    return narrow;
}

Store& Store::Instance() {
    static Store store;
    return store;
}

Store::Store() {
    ResetLocked();
    sim::RegisterResourceCheck("registry handle", [this] { return OpenHandles(); });
}

void Store::Reset() {
    std::lock_guard guard(mutex_);
    ResetLocked();
}

void Store::ResetLocked() {
    root_ = std::make_shared<Key>();
    handles_.clear();
    deviceKeys_.clear();
    nextDeviceInstance_ = 0;
    // Handle values are never reused, so a stale handle stays invalid.
    for (const auto path : kInitialKeys) MakePath(path);
}

// ---- Tree walking (mutex held) ---------------------------------------------------

std::shared_ptr<Store::Key> Store::FindPath(std::u16string_view path) {
    std::vector<std::u16string_view> components;
    if (path.empty() || path.front() != u'\\' || !SplitComponents(path.substr(1), &components)) {
        return nullptr;
    }
    auto key = root_;
    for (const auto component : components) {
        const auto child = key->children.find(FoldName(component));
        if (child == key->children.end()) return nullptr;
        key = child->second;
    }
    return key;
}

std::shared_ptr<Store::Key> Store::MakePath(std::u16string_view path) {
    std::vector<std::u16string_view> components;
    if (path.empty() || path.front() != u'\\' || !SplitComponents(path.substr(1), &components)) {
        return nullptr;
    }
    auto key = root_;
    for (const auto component : components) {
        auto& child = key->children[FoldName(component)];
        if (!child) {
            child = std::make_shared<Key>();
            child->name = std::u16string(component);
            child->parent = key;
        }
        key = child;
    }
    return key;
}

std::u16string Store::PathOf(const Key& key) {
    std::u16string path;
    const Key* current = &key;
    std::shared_ptr<Key> keepAlive;
    while (current != nullptr && !current->name.empty()) {
        path.insert(0, u"\\" + current->name);
        keepAlive = current->parent.lock();
        current = keepAlive.get();
    }
    return path.empty() ? u"\\" : path;
}

NTSTATUS Store::Resolve(HANDLE handle, ACCESS_MASK needed, std::shared_ptr<Key>* key) {
    const auto entry = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    if (entry == handles_.end()) return STATUS_INVALID_HANDLE;
    if ((entry->second.access & needed) != needed) return STATUS_ACCESS_DENIED;
    if (entry->second.key->deleted) return STATUS_KEY_DELETED;
    *key = entry->second.key;
    return STATUS_SUCCESS;
}

// ---- Handle-based access ------------------------------------------------------

NTSTATUS Store::OpenKey(HANDLE root, std::u16string_view path, ACCESS_MASK access, bool create,
                        ULONG* disposition, HANDLE* handle) {
    std::lock_guard guard(mutex_);
    std::shared_ptr<Key> key;
    if (root != nullptr) {
        if (const auto status = Resolve(root, 0, &key); !NT_SUCCESS(status)) return status;
        if (!path.empty() && path.front() == u'\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
    } else {
        if (path.empty() || path.front() != u'\\') return STATUS_OBJECT_PATH_SYNTAX_BAD;
        path.remove_prefix(1);
        if (path.empty()) return STATUS_OBJECT_TYPE_MISMATCH;  // the object root is no key
        key = root_;
    }
    std::vector<std::u16string_view> components;
    if (!SplitComponents(path, &components)) return STATUS_OBJECT_NAME_INVALID;

    ULONG result = REG_OPENED_EXISTING_KEY;
    for (std::size_t index = 0; index < components.size(); ++index) {
        const bool last = index + 1 == components.size();
        auto folded = FoldName(components[index]);
        const auto child = key->children.find(folded);
        if (child != key->children.end()) {
            key = child->second;
            continue;
        }
        if (!last) return STATUS_OBJECT_PATH_NOT_FOUND;
        // Only \Registry lives at the object root; nothing is created beside it.
        if (!create || key == root_) return STATUS_OBJECT_NAME_NOT_FOUND;
        auto created = std::make_shared<Key>();
        created->name = std::u16string(components[index]);
        created->parent = key;
        key->children.emplace(std::move(folded), created);
        key = std::move(created);
        result = REG_CREATED_NEW_KEY;
    }
    if (key == root_) return STATUS_OBJECT_TYPE_MISMATCH;

    nextHandle_ += 4;
    const auto value = 0x80000000u + nextHandle_;
    handles_.emplace(value, OpenHandle{key, MapGenericAccess(access)});
    *handle = ToHandle(value);
    if (disposition != nullptr) *disposition = result;
    return STATUS_SUCCESS;
}

NTSTATUS Store::CloseHandle(HANDLE handle) {
    std::lock_guard guard(mutex_);
    return handles_.erase(reinterpret_cast<std::uintptr_t>(handle)) == 1 ? STATUS_SUCCESS
                                                                         : STATUS_INVALID_HANDLE;
}

NTSTATUS Store::QueryValue(HANDLE handle, std::u16string_view name, Value* value) {
    std::lock_guard guard(mutex_);
    std::shared_ptr<Key> key;
    if (const auto status = Resolve(handle, KEY_QUERY_VALUE, &key); !NT_SUCCESS(status)) {
        return status;
    }
    const auto entry = key->values.find(FoldName(name));
    if (entry == key->values.end()) return STATUS_OBJECT_NAME_NOT_FOUND;
    *value = entry->second;
    return STATUS_SUCCESS;
}

NTSTATUS Store::SetValue(HANDLE handle, std::u16string_view name, ULONG type, const UCHAR* data,
                         ULONG size) {
    std::lock_guard guard(mutex_);
    std::shared_ptr<Key> key;
    if (const auto status = Resolve(handle, KEY_SET_VALUE, &key); !NT_SUCCESS(status)) {
        return status;
    }
    auto& value = key->values[FoldName(name)];
    if (value.name.empty()) value.name = std::u16string(name);
    value.type = type;
    value.data.assign(data, data + size);
    return STATUS_SUCCESS;
}

NTSTATUS Store::DeleteValue(HANDLE handle, std::u16string_view name) {
    std::lock_guard guard(mutex_);
    std::shared_ptr<Key> key;
    if (const auto status = Resolve(handle, KEY_SET_VALUE, &key); !NT_SUCCESS(status)) {
        return status;
    }
    return key->values.erase(FoldName(name)) == 1 ? STATUS_SUCCESS : STATUS_OBJECT_NAME_NOT_FOUND;
}

NTSTATUS Store::DeleteKey(HANDLE handle) {
    std::lock_guard guard(mutex_);
    std::shared_ptr<Key> key;
    if (const auto status = Resolve(handle, kDeleteAccess, &key); !NT_SUCCESS(status)) {
        return status;
    }
    if (!key->children.empty()) return STATUS_CANNOT_DELETE;
    const auto parent = key->parent.lock();
    if (!parent || parent == root_) return STATUS_CANNOT_DELETE;
    parent->children.erase(FoldName(key->name));
    key->deleted = true;
    return STATUS_SUCCESS;
}

// ---- Path-based access ----------------------------------------------------------

void Store::CreateKeyPath(std::u16string_view path) {
    std::lock_guard guard(mutex_);
    MakePath(path);
}

bool Store::DeleteKeyPath(std::u16string_view path) {
    std::lock_guard guard(mutex_);
    const auto key = FindPath(path);
    if (!key) return false;
    const auto parent = key->parent.lock();
    if (!parent || parent == root_) return false;
    parent->children.erase(FoldName(key->name));
    std::vector<std::shared_ptr<Key>> pending{key};
    while (!pending.empty()) {
        const auto current = pending.back();
        pending.pop_back();
        current->deleted = true;
        for (const auto& [name, child] : current->children) pending.push_back(child);
    }
    return true;
}

bool Store::KeyExists(std::u16string_view path) {
    std::lock_guard guard(mutex_);
    return FindPath(path) != nullptr;
}

void Store::SetValueAt(std::u16string_view path, std::u16string_view name, ULONG type,
                       std::vector<UCHAR> data) {
    std::lock_guard guard(mutex_);
    const auto key = MakePath(path);
    if (!key) return;
    auto& value = key->values[FoldName(name)];
    if (value.name.empty()) value.name = std::u16string(name);
    value.type = type;
    value.data = std::move(data);
}

std::optional<Value> Store::GetValueAt(std::u16string_view path, std::u16string_view name) {
    std::lock_guard guard(mutex_);
    const auto key = FindPath(path);
    if (!key) return std::nullopt;
    const auto entry = key->values.find(FoldName(name));
    if (entry == key->values.end()) return std::nullopt;
    return entry->second;
}

bool Store::DeleteValueAt(std::u16string_view path, std::u16string_view name) {
    std::lock_guard guard(mutex_);
    const auto key = FindPath(path);
    return key && key->values.erase(FoldName(name)) == 1;
}

std::vector<std::u16string> Store::ValueNamesAt(std::u16string_view path) {
    std::lock_guard guard(mutex_);
    std::vector<std::u16string> names;
    if (const auto key = FindPath(path)) {
        for (const auto& [folded, value] : key->values) names.push_back(value.name);
    }
    return names;
}

std::vector<std::string> Store::OpenHandles() {
    std::lock_guard guard(mutex_);
    std::vector<std::string> report;
    for (const auto& [value, handle] : handles_) {
        char number[32];
        std::snprintf(number, sizeof number, "0x%lx ", static_cast<unsigned long>(value));
        report.push_back(number + Narrow(PathOf(*handle.key)) +
                         (handle.key->deleted ? " (deleted)" : ""));
    }
    return report;
}

// ---- Device keys ------------------------------------------------------------------

std::u16string Store::DeviceKeyPath(const void* device, ULONG keyType) {
    std::lock_guard guard(mutex_);
    return DeviceKeyPathLocked(device, keyType);
}

std::u16string Store::DeviceKeyPathLocked(const void* device, ULONG keyType) {
    const auto found = deviceKeys_.find({device, keyType});
    if (found != deviceKeys_.end()) return found->second;
    // A new device: both of its keys, numbered in order of first use.
    char instance[16];
    std::snprintf(instance, sizeof instance, "%04u", static_cast<unsigned>(nextDeviceInstance_++));
    const std::u16string number(instance, instance + std::strlen(instance));
    deviceKeys_.try_emplace({device, PLUGPLAY_REGKEY_DEVICE},
                            u"\\Registry\\Machine\\System\\CurrentControlSet\\Enum\\SIM\\" +
                                number + u"\\Device Parameters");
    deviceKeys_.try_emplace(
        {device, PLUGPLAY_REGKEY_DRIVER},
        u"\\Registry\\Machine\\System\\CurrentControlSet\\Control\\Class\\SIM\\" + number);
    return deviceKeys_.at({device, keyType});
}

void Store::BindDeviceKey(const void* device, ULONG keyType, std::u16string_view path) {
    std::lock_guard guard(mutex_);
    DeviceKeyPathLocked(device, keyType);  // gives the other key its default
    deviceKeys_[{device, keyType}] = std::u16string(path);
}

void Store::UnbindDevice(const void* device) {
    std::lock_guard guard(mutex_);
    deviceKeys_.erase({device, PLUGPLAY_REGKEY_DEVICE});
    deviceKeys_.erase({device, PLUGPLAY_REGKEY_DRIVER});
}

}  // namespace kernel::registry
