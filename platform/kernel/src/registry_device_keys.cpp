// IoOpenDeviceRegistryKey: the hardware and software keys of a device object.
#include "internal/verifier.h"
#include "kernel/registry.h"
#include "registry_store.h"

using kernel::registry::Store;

NTSTATUS IoOpenDeviceRegistryKey(PDEVICE_OBJECT deviceObject, ULONG devInstKeyType,
                                 ACCESS_MASK desiredAccess, PHANDLE deviceRegKey) {
    if (!kernel::internal::RequireIrqlAtMost(PASSIVE_LEVEL, "IoOpenDeviceRegistryKey"))
        return STATUS_INVALID_DEVICE_STATE;
    const auto keyType = devInstKeyType & ~PLUGPLAY_REGKEY_CURRENT_HWPROFILE;
    if (deviceObject == nullptr || deviceRegKey == nullptr ||
        (keyType != PLUGPLAY_REGKEY_DEVICE && keyType != PLUGPLAY_REGKEY_DRIVER)) {
        return STATUS_INVALID_PARAMETER;
    }
    // The plug-and-play manager keeps both keys of a device, so they always exist.
    auto& store = Store::Instance();
    const auto path = store.DeviceKeyPath(deviceObject, keyType);
    store.CreateKeyPath(path);
    return store.OpenKey(nullptr, path, desiredAccess, false, nullptr, deviceRegKey);
}
