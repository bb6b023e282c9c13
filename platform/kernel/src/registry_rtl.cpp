// RtlWriteRegistryValue, RtlDeleteRegistryValue and RtlCheckRegistryKey: the
// relative roots and the key they name.
#include <string>

#include "internal/verifier.h"
#include "kernel/registry.h"
#include "registry_names.h"
#include "registry_store.h"

using kernel::registry::Store;
using kernel::registry::ViewOf;

namespace {

constexpr std::u16string_view kRelativeRoots[RTL_REGISTRY_MAXIMUM] = {
    u"",                                                                      // ABSOLUTE
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Services",              // SERVICES
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Control",               // CONTROL
    u"\\Registry\\Machine\\Software\\Microsoft\\Windows NT\\CurrentVersion",  // WINDOWS_NT
    u"\\Registry\\Machine\\Hardware\\DeviceMap",                              // DEVICEMAP
    u"\\Registry\\User\\.Default",                                            // USER
};

// An open key for (relativeTo, path); closes it unless the caller passed a handle.
class RelativeKey {
  public:
    RelativeKey(ULONG relativeTo, PCWSTR path, ACCESS_MASK access, bool create) {
        if ((relativeTo & RTL_REGISTRY_HANDLE) != 0) {
            handle_ = const_cast<PWSTR>(path);
            status_ = STATUS_SUCCESS;
            return;
        }
        const auto root = relativeTo & ~RTL_REGISTRY_OPTIONAL;
        if (root >= RTL_REGISTRY_MAXIMUM) return;
        const auto relative = ViewOf(path);
        // As on the platform, a path that starts with a backslash is absolute
        // whatever the root.
        std::u16string full;
        if (root == RTL_REGISTRY_ABSOLUTE || (!relative.empty() && relative.front() == u'\\')) {
            full = relative;
        } else {
            full = kRelativeRoots[root];
            if (!relative.empty()) full += u"\\" + std::u16string(relative);
        }
        status_ = Store::Instance().OpenKey(nullptr, full, access, create, nullptr, &handle_);
        owned_ = NT_SUCCESS(status_);
    }
    ~RelativeKey() {
        if (owned_) (void)Store::Instance().CloseHandle(handle_);
    }
    RelativeKey(const RelativeKey&) = delete;
    RelativeKey& operator=(const RelativeKey&) = delete;

    [[nodiscard]] NTSTATUS Status() const { return status_; }
    [[nodiscard]] HANDLE Handle() const { return handle_; }

  private:
    NTSTATUS status_ = STATUS_INVALID_PARAMETER;
    HANDLE handle_ = nullptr;
    bool owned_ = false;
};

}  // namespace

NTSTATUS RtlWriteRegistryValue(ULONG relativeTo, PCWSTR path, PCWSTR valueName, ULONG valueType,
                               PVOID valueData, ULONG valueLength) {
    if (!kernel::internal::RequireIrqlAtMost(PASSIVE_LEVEL, "RtlWriteRegistryValue"))
        return STATUS_INVALID_DEVICE_STATE;
    if (valueLength != 0 && valueData == nullptr) return STATUS_INVALID_PARAMETER;
    const RelativeKey key(relativeTo, path, KEY_SET_VALUE, true);
    if (!NT_SUCCESS(key.Status())) return key.Status();
    return Store::Instance().SetValue(key.Handle(), ViewOf(valueName), valueType,
                                      static_cast<const UCHAR*>(valueData), valueLength);
}

NTSTATUS RtlDeleteRegistryValue(ULONG relativeTo, PCWSTR path, PCWSTR valueName) {
    if (!kernel::internal::RequireIrqlAtMost(PASSIVE_LEVEL, "RtlDeleteRegistryValue"))
        return STATUS_INVALID_DEVICE_STATE;
    const RelativeKey key(relativeTo, path, KEY_SET_VALUE, false);
    if (!NT_SUCCESS(key.Status())) return key.Status();
    return Store::Instance().DeleteValue(key.Handle(), ViewOf(valueName));
}

NTSTATUS RtlCheckRegistryKey(ULONG relativeTo, PWSTR path) {
    if (!kernel::internal::RequireIrqlAtMost(PASSIVE_LEVEL, "RtlCheckRegistryKey"))
        return STATUS_INVALID_DEVICE_STATE;
    const RelativeKey key(relativeTo, path, KEY_READ, false);
    return key.Status();
}
