// Test-side registry controls over the kernel's registry store.
#include "sim/registry.h"

#include <cstring>

#include "registry_store.h"

namespace sim::registry {
namespace {

kernel::registry::Store& Store() {
    return kernel::registry::Store::Instance();
}

}  // namespace

void Reset() {
    Store().Reset();
}

void CreateKey(std::u16string_view path) {
    Store().CreateKeyPath(path);
}

bool DeleteKey(std::u16string_view path) {
    return Store().DeleteKeyPath(path);
}

bool KeyExists(std::u16string_view path) {
    return Store().KeyExists(path);
}

void SetValue(std::u16string_view path, std::u16string_view name, ULONG type,
              std::vector<UCHAR> data) {
    Store().SetValueAt(path, name, type, std::move(data));
}

void SetDword(std::u16string_view path, std::u16string_view name, ULONG value) {
    std::vector<UCHAR> data(sizeof value);
    std::memcpy(data.data(), &value, sizeof value);
    SetValue(path, name, REG_DWORD, std::move(data));
}

void SetString(std::u16string_view path, std::u16string_view name, std::u16string_view text,
               ULONG type) {
    std::vector<UCHAR> data((text.size() + 1) * sizeof(WCHAR), 0);
    std::memcpy(data.data(), text.data(), text.size() * sizeof(WCHAR));
    SetValue(path, name, type, std::move(data));
}

bool DeleteValue(std::u16string_view path, std::u16string_view name) {
    return Store().DeleteValueAt(path, name);
}

std::optional<Value> GetValue(std::u16string_view path, std::u16string_view name) {
    auto value = Store().GetValueAt(path, name);
    if (!value) return std::nullopt;
    return Value{value->type, std::move(value->data)};
}

std::optional<ULONG> GetDword(std::u16string_view path, std::u16string_view name) {
    const auto value = GetValue(path, name);
    if (!value || value->type != REG_DWORD || value->data.size() != sizeof(ULONG)) {
        return std::nullopt;
    }
    ULONG number = 0;
    std::memcpy(&number, value->data.data(), sizeof number);
    return number;
}

std::optional<std::u16string> GetString(std::u16string_view path, std::u16string_view name) {
    const auto value = GetValue(path, name);
    if (!value ||
        (value->type != REG_SZ && value->type != REG_EXPAND_SZ && value->type != REG_MULTI_SZ)) {
        return std::nullopt;
    }
    std::u16string text(value->data.size() / sizeof(WCHAR), u'\0');
    std::memcpy(text.data(), value->data.data(), text.size() * sizeof(WCHAR));
    if (const auto end = text.find(u'\0'); end != std::u16string::npos) text.resize(end);
    return text;
}

std::vector<std::u16string> ValueNames(std::u16string_view path) {
    return Store().ValueNamesAt(path);
}

std::u16string DeviceKeyPath(const DEVICE_OBJECT* device, ULONG keyType) {
    return Store().DeviceKeyPath(device, keyType);
}

void BindDeviceKey(const DEVICE_OBJECT* device, ULONG keyType, std::u16string_view path) {
    Store().BindDeviceKey(device, keyType, path);
}

void UnbindDevice(const DEVICE_OBJECT* device) {
    Store().UnbindDevice(device);
}

std::vector<std::string> OpenHandles() {
    return Store().OpenHandles();
}

}  // namespace sim::registry
