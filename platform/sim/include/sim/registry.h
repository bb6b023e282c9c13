// Test-side controls of the simulated registry: preset and inspect keys and
// values, and name the keys IoOpenDeviceRegistryKey opens for a device object.
// Paths are full key names ("\Registry\Machine\..."); names compare without case.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/registry.h"

namespace sim::registry {

struct Value {
    ULONG type = REG_NONE;
    std::vector<UCHAR> data;
};

// Back to the initial tree: the standard roots only, no open handles, no device
// bindings. Handles opened before stay invalid.
void Reset();

void CreateKey(std::u16string_view path);  // with every missing parent
bool DeleteKey(std::u16string_view path);  // with its subtree; open handles see it deleted
[[nodiscard]] bool KeyExists(std::u16string_view path);

// Setting a value creates its key. SetValue stores the bytes as given, so a test
// can store data that does not match its type.
void SetValue(std::u16string_view path, std::u16string_view name, ULONG type,
              std::vector<UCHAR> data);
void SetDword(std::u16string_view path, std::u16string_view name, ULONG value);
// REG_SZ (or another string type) with its terminating NUL.
void SetString(std::u16string_view path, std::u16string_view name, std::u16string_view text,
               ULONG type = REG_SZ);
bool DeleteValue(std::u16string_view path, std::u16string_view name);

[[nodiscard]] std::optional<Value> GetValue(std::u16string_view path, std::u16string_view name);
// The value when it is a REG_DWORD of 4 bytes.
[[nodiscard]] std::optional<ULONG> GetDword(std::u16string_view path, std::u16string_view name);
// The text of a string-typed value, up to its first NUL.
[[nodiscard]] std::optional<std::u16string> GetString(std::u16string_view path,
                                                      std::u16string_view name);
[[nodiscard]] std::vector<std::u16string> ValueNames(std::u16string_view path);

// The hardware (PLUGPLAY_REGKEY_DEVICE) or software (PLUGPLAY_REGKEY_DRIVER) key
// of a device object. A device gets its own pair of keys the first time it is
// named here or opened; BindDeviceKey gives it a chosen key instead (e.g. the
// same key for a device that returns as a new device object). Bindings last
// until Reset or UnbindDevice.
[[nodiscard]] std::u16string DeviceKeyPath(const DEVICE_OBJECT* device, ULONG keyType);
void BindDeviceKey(const DEVICE_OBJECT* device, ULONG keyType, std::u16string_view path);
void UnbindDevice(const DEVICE_OBJECT* device);

// Open key handles, one line each ("0x80000004 \Registry\..."); also reported by
// the leftover-resource check "registry handle".
[[nodiscard]] std::vector<std::string> OpenHandles();

}  // namespace sim::registry
