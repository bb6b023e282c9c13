#include "framework/registry_access.h"

#include <cstddef>

#include "framework/pool.h"

namespace framework {
namespace {

constexpr ULONG kDataOffset = offsetof(KEY_VALUE_PARTIAL_INFORMATION, Data);

// The value's partial information in paged pool, freed with the object.
class ValueInformation {
  public:
    ~ValueInformation() { PoolFree(block_); }

    [[nodiscard]] NTSTATUS Query(HANDLE key, const WCHAR* name) {
        UNICODE_STRING valueName;
        RtlInitUnicodeString(&valueName, name);
        ULONG size = 0;
        NTSTATUS status =
            ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, nullptr, 0, &size);
        if (status == STATUS_OBJECT_NAME_NOT_FOUND || size == 0)
            return STATUS_OBJECT_NAME_NOT_FOUND;
        // Anything shorter than the fixed part cannot be a well-formed answer.
        if (size < kDataOffset) return STATUS_OBJECT_TYPE_MISMATCH;
        block_ = static_cast<PKEY_VALUE_PARTIAL_INFORMATION>(PoolAllocate(PagedPool, size));
        if (block_ == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
        ULONG written = 0;
        status =
            ZwQueryValueKey(key, &valueName, KeyValuePartialInformation, block_, size, &written);
        if (!NT_SUCCESS(status)) return status;
        // Trust no length beyond what was allocated (the value may have changed).
        if (block_->DataLength > size - kDataOffset) return STATUS_OBJECT_TYPE_MISMATCH;
        return STATUS_SUCCESS;
    }

    [[nodiscard]] const KEY_VALUE_PARTIAL_INFORMATION& Get() const { return *block_; }

  private:
    PKEY_VALUE_PARTIAL_INFORMATION block_ = nullptr;
};

}  // namespace

HANDLE OpenKey(PUNICODE_STRING path, ACCESS_MASK access) {
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, path, OBJ_CASE_INSENSITIVE | OBJ_KERNEL_HANDLE, nullptr,
                               nullptr);
    HANDLE key = nullptr;
    return NT_SUCCESS(ZwOpenKey(&key, access, &attributes)) ? key : nullptr;
}

HANDLE OpenDeviceKey(PDEVICE_OBJECT physicalDevice, ACCESS_MASK access) {
    HANDLE key = nullptr;
    return NT_SUCCESS(IoOpenDeviceRegistryKey(physicalDevice, PLUGPLAY_REGKEY_DEVICE, access, &key))
               ? key
               : nullptr;
}

NTSTATUS ReadDword(HANDLE key, const WCHAR* name, ULONG* value) {
    ValueInformation information;
    if (const NTSTATUS status = information.Query(key, name); !NT_SUCCESS(status)) return status;
    const auto& data = information.Get();
    // A REG_DWORD shorter than 4 bytes is refused rather than read past its end.
    const bool isDword = data.Type == REG_DWORD && data.DataLength >= sizeof(ULONG);
    const bool isFourBytes = data.Type == REG_BINARY && data.DataLength == sizeof(ULONG);
    if (!isDword && !isFourBytes) return STATUS_OBJECT_TYPE_MISMATCH;
    RtlCopyMemory(value, data.Data, sizeof(ULONG));
    return STATUS_SUCCESS;
}

NTSTATUS ReadString(HANDLE key, const WCHAR* name, CountedString* string) {
    ValueInformation information;
    if (const NTSTATUS status = information.Query(key, name); !NT_SUCCESS(status)) return status;
    const auto& data = information.Get();
    if (data.Type != REG_SZ && data.Type != REG_EXPAND_SZ && data.Type != REG_MULTI_SZ) {
        return STATUS_OBJECT_TYPE_MISMATCH;
    }
    // The stored text normally ends with one NUL, which becomes the terminator
    // (Length = DataLength - 2, MaximumLength = DataLength). Data that is not
    // terminated, has an odd byte or is empty still yields a terminated string.
    SIZE_T characters = data.DataLength / sizeof(WCHAR);
    WCHAR last = 0;
    if (characters != 0)
        RtlCopyMemory(&last, data.Data + (characters - 1) * sizeof(WCHAR), sizeof last);
    const bool terminated = characters != 0 && last == 0;
    if (terminated) --characters;
    if (characters + 1 > CountedString::kMaximumCharacters) {
        return STATUS_BUFFER_OVERFLOW;  // longer than a counted string can describe
    }
    const SIZE_T bytes = (characters + 1) * sizeof(WCHAR);
    auto* buffer = static_cast<PWCHAR>(PoolAllocate(bytes));
    if (buffer == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    RtlCopyMemory(buffer, data.Data, characters * sizeof(WCHAR));
    buffer[characters] = 0;
    string->Adopt(buffer, static_cast<USHORT>(characters * sizeof(WCHAR)),
                  static_cast<USHORT>(bytes));
    return STATUS_SUCCESS;
}

void WriteDword(HANDLE key, const WCHAR* name, ULONG value) {
    UNICODE_STRING valueName;
    RtlInitUnicodeString(&valueName, name);
    (void)ZwSetValueKey(key, &valueName, 0, REG_DWORD, &value, sizeof value);
}

}  // namespace framework
