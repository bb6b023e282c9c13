// ZwOpenKey, ZwCreateKey, ZwQueryValueKey, ZwSetValueKey, ZwDeleteValueKey,
// ZwDeleteKey and ZwClose over the in-memory registry.
#include <cstddef>
#include <cstring>
#include <vector>

#include "internal/verifier.h"
#include "kernel/registry.h"
#include "registry_names.h"
#include "registry_store.h"

using kernel::registry::Store;
using kernel::registry::Value;
using kernel::registry::ViewOf;

namespace {

// Registry routines run at PASSIVE_LEVEL; a call above it is reported and fails.
constexpr NTSTATUS kRaisedIrqlStatus = STATUS_INVALID_DEVICE_STATE;

bool AtPassiveLevel(const char* routine) {
    return kernel::internal::RequireIrqlAtMost(PASSIVE_LEVEL, routine);
}

NTSTATUS OpenOrCreate(PHANDLE keyHandle, ACCESS_MASK desiredAccess,
                      POBJECT_ATTRIBUTES objectAttributes, bool create, PULONG disposition) {
    if (keyHandle == nullptr || objectAttributes == nullptr) return STATUS_INVALID_PARAMETER;
    std::u16string_view name;
    if (!ViewOf(objectAttributes->ObjectName, &name)) return STATUS_OBJECT_NAME_INVALID;
    // Registry names are case-insensitive whatever OBJ_CASE_INSENSITIVE says.
    return Store::Instance().OpenKey(objectAttributes->RootDirectory, name, desiredAccess, create,
                                     disposition, keyHandle);
}

ULONG ClampToUlong(std::size_t size) {
    return size > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<ULONG>(size);
}

template <typename Header>
void PutHeader(std::vector<UCHAR>* image, const Header& header, std::size_t headerSize) {
    std::memcpy(image->data(), &header, headerSize);
}

// The complete answer of one information class, laid out as in the caller's buffer.
bool BuildInformation(KEY_VALUE_INFORMATION_CLASS informationClass, const Value& value,
                      std::vector<UCHAR>* image, std::size_t* fixedSize) {
    const auto nameBytes = value.name.size() * sizeof(WCHAR);
    const auto dataBytes = value.data.size();
    switch (informationClass) {
        case KeyValuePartialInformation: {
            constexpr auto header = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);
            image->assign(header + dataBytes, 0);
            KEY_VALUE_PARTIAL_INFORMATION fixed{0, value.type, ClampToUlong(dataBytes), {0}};
            PutHeader(image, fixed, header);
            if (dataBytes != 0) std::memcpy(image->data() + header, value.data.data(), dataBytes);
            *fixedSize = header;
            return true;
        }
        case KeyValueBasicInformation: {
            constexpr auto header = offsetof(KEY_VALUE_BASIC_INFORMATION, Name);
            image->assign(header + nameBytes, 0);
            KEY_VALUE_BASIC_INFORMATION fixed{0, value.type, ClampToUlong(nameBytes), {0}};
            PutHeader(image, fixed, header);
            if (nameBytes != 0) std::memcpy(image->data() + header, value.name.data(), nameBytes);
            *fixedSize = header;
            return true;
        }
        case KeyValueFullInformation: {
            constexpr auto header = offsetof(KEY_VALUE_FULL_INFORMATION, Name);
            const auto dataOffset = (header + nameBytes + 3) & ~std::size_t{3};
            image->assign(dataOffset + dataBytes, 0);
            KEY_VALUE_FULL_INFORMATION fixed{0,
                                             value.type,
                                             ClampToUlong(dataOffset),
                                             ClampToUlong(dataBytes),
                                             ClampToUlong(nameBytes),
                                             {0}};
            PutHeader(image, fixed, header);
            if (nameBytes != 0) std::memcpy(image->data() + header, value.name.data(), nameBytes);
            if (dataBytes != 0)
                std::memcpy(image->data() + dataOffset, value.data.data(), dataBytes);
            *fixedSize = header;
            return true;
        }
        default:
            return false;
    }
}

}  // namespace

NTSTATUS ZwOpenKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess,
                   POBJECT_ATTRIBUTES objectAttributes) {
    if (!AtPassiveLevel("ZwOpenKey")) return kRaisedIrqlStatus;
    return OpenOrCreate(keyHandle, desiredAccess, objectAttributes, false, nullptr);
}

NTSTATUS ZwCreateKey(PHANDLE keyHandle, ACCESS_MASK desiredAccess,
                     POBJECT_ATTRIBUTES objectAttributes, ULONG /*titleIndex*/,
                     PUNICODE_STRING /*keyClass*/, ULONG /*createOptions*/, PULONG disposition) {
    if (!AtPassiveLevel("ZwCreateKey")) return kRaisedIrqlStatus;
    return OpenOrCreate(keyHandle, desiredAccess, objectAttributes, true, disposition);
}

NTSTATUS ZwQueryValueKey(HANDLE keyHandle, PUNICODE_STRING valueName,
                         KEY_VALUE_INFORMATION_CLASS keyValueInformationClass,
                         PVOID keyValueInformation, ULONG length, PULONG resultLength) {
    if (!AtPassiveLevel("ZwQueryValueKey")) return kRaisedIrqlStatus;
    std::u16string_view name;
    if (!ViewOf(valueName, &name) || resultLength == nullptr ||
        (length != 0 && keyValueInformation == nullptr)) {
        return STATUS_INVALID_PARAMETER;
    }
    Value value;
    if (const auto status = Store::Instance().QueryValue(keyHandle, name, &value);
        !NT_SUCCESS(status)) {
        return status;
    }
    std::vector<UCHAR> image;
    std::size_t fixedSize = 0;
    if (!BuildInformation(keyValueInformationClass, value, &image, &fixedSize)) {
        return STATUS_INVALID_PARAMETER;
    }
    *resultLength = ClampToUlong(image.size());
    if (length < fixedSize) return STATUS_BUFFER_TOO_SMALL;
    const auto copied = length < image.size() ? length : image.size();
    std::memcpy(keyValueInformation, image.data(), copied);
    return copied < image.size() ? STATUS_BUFFER_OVERFLOW : STATUS_SUCCESS;
}

NTSTATUS ZwSetValueKey(HANDLE keyHandle, PUNICODE_STRING valueName, ULONG /*titleIndex*/,
                       ULONG type, PVOID data, ULONG dataSize) {
    if (!AtPassiveLevel("ZwSetValueKey")) return kRaisedIrqlStatus;
    std::u16string_view name;
    if (!ViewOf(valueName, &name) || (dataSize != 0 && data == nullptr)) {
        return STATUS_INVALID_PARAMETER;
    }
    return Store::Instance().SetValue(keyHandle, name, type, static_cast<const UCHAR*>(data),
                                      dataSize);
}

NTSTATUS ZwDeleteValueKey(HANDLE keyHandle, PUNICODE_STRING valueName) {
    if (!AtPassiveLevel("ZwDeleteValueKey")) return kRaisedIrqlStatus;
    std::u16string_view name;
    if (!ViewOf(valueName, &name)) return STATUS_INVALID_PARAMETER;
    return Store::Instance().DeleteValue(keyHandle, name);
}

NTSTATUS ZwDeleteKey(HANDLE keyHandle) {
    return Store::Instance().DeleteKey(keyHandle);
}

NTSTATUS ZwClose(HANDLE handle) {
    return Store::Instance().CloseHandle(handle);
}
