// The in-memory registry behind the Zw*/Rtl* routines and the test-side controls:
// a tree of keys (names compared case-insensitively), their values and the table
// of open key handles. One mutex guards all of it.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/registry.h"

namespace kernel::registry {

struct Value {
    std::u16string name;  // as first written
    ULONG type = REG_NONE;
    std::vector<UCHAR> data;
};

// Paths are full names below the object root: "\Registry\Machine\...".
class Store {
  public:
    static Store& Instance();

    // ---- Handle-based access (the kernel routines) ----
    // `root` may be NULL; `path` is then absolute, else relative to the root key.
    [[nodiscard]] NTSTATUS OpenKey(HANDLE root, std::u16string_view path, ACCESS_MASK access,
                                   bool create, ULONG* disposition, HANDLE* handle);
    [[nodiscard]] NTSTATUS CloseHandle(HANDLE handle);
    [[nodiscard]] NTSTATUS QueryValue(HANDLE handle, std::u16string_view name, Value* value);
    [[nodiscard]] NTSTATUS SetValue(HANDLE handle, std::u16string_view name, ULONG type,
                                    const UCHAR* data, ULONG size);
    [[nodiscard]] NTSTATUS DeleteValue(HANDLE handle, std::u16string_view name);
    [[nodiscard]] NTSTATUS DeleteKey(HANDLE handle);

    // ---- Path-based access (the test-side controls) ----
    void Reset();  // the initial tree, no handles, no device bindings
    void CreateKeyPath(std::u16string_view path);  // every missing component
    bool DeleteKeyPath(std::u16string_view path);  // with its subtree
    [[nodiscard]] bool KeyExists(std::u16string_view path);
    void SetValueAt(std::u16string_view path, std::u16string_view name, ULONG type,
                    std::vector<UCHAR> data);  // creates the key
    [[nodiscard]] std::optional<Value> GetValueAt(std::u16string_view path,
                                                  std::u16string_view name);
    bool DeleteValueAt(std::u16string_view path, std::u16string_view name);
    [[nodiscard]] std::vector<std::u16string> ValueNamesAt(std::u16string_view path);
    [[nodiscard]] std::vector<std::string> OpenHandles();  // "0x...: path"

    // ---- Device keys ----
    // The key IoOpenDeviceRegistryKey opens for a device object; a device gets a
    // default pair of keys the first time it is named here.
    [[nodiscard]] std::u16string DeviceKeyPath(const void* device, ULONG keyType);
    void BindDeviceKey(const void* device, ULONG keyType, std::u16string_view path);
    void UnbindDevice(const void* device);

  private:
    struct Key;
    struct OpenHandle {
        std::shared_ptr<Key> key;
        ACCESS_MASK access;
    };

    Store();
    void ResetLocked();
    std::u16string DeviceKeyPathLocked(const void* device, ULONG keyType);
    NTSTATUS Resolve(HANDLE handle, ACCESS_MASK needed, std::shared_ptr<Key>* key);
    std::shared_ptr<Key> FindPath(std::u16string_view path);
    std::shared_ptr<Key> MakePath(std::u16string_view path);
    static std::u16string PathOf(const Key& key);

    std::mutex mutex_;
    std::shared_ptr<Key> root_;
    std::map<std::uintptr_t, OpenHandle> handles_;
    std::uintptr_t nextHandle_ = 0;
    std::map<std::pair<const void*, ULONG>, std::u16string> deviceKeys_;
    ULONG nextDeviceInstance_ = 0;
};

// Case-folded form used to compare key and value names.
[[nodiscard]] std::u16string FoldName(std::u16string_view name);
// For reports: UTF-16 to UTF-8 for the ASCII range, others as "?".
[[nodiscard]] std::string Narrow(std::u16string_view text);

}  // namespace kernel::registry
