#include "framework/driver_entry.h"

#include "framework/device_object_base.h"
#include "framework/driver_globals.h"
#include "framework/exit_list.h"
#include "framework/global_mutex.h"
#include "framework/pending_irp_holder.h"
#include "framework/registry_access.h"

namespace framework {
namespace {

struct WdmLevel {
    UCHAR major;
    UCHAR minor;
    ULONG osLevel;
};

// The first WDM version the system offers decides; there is no level 3.
constexpr WdmLevel kWdmLevels[] = {
    {6, 0x00, 7}, {1, 0x30, 6}, {1, 0x20, 5}, {1, 0x10, 4}, {1, 0x05, 2},
};
constexpr ULONG kLegacyOsLevel = 2;  // systems before WDM 1.10

ULONG QueryOsLevel(PDRIVER_OBJECT driverObject) {
    for (const WdmLevel& level : kWdmLevels) {
        if (IoIsWdmVersionAvailable(level.major, level.minor)) return level.osLevel;
    }
    return driverObject->DriverExtension->ServiceKeyName.Length != 0 ? 1 : 0;
}

VOID ReleaseServiceKeyPath(PVOID) {
    ServiceKeyPath.Free();
}

void ReadServiceKey(PUNICODE_STRING registryPath) {
    HANDLE key = OpenKey(registryPath, KEY_READ);
    if (key == nullptr) return;
    ULONG value = 0;
    if (NT_SUCCESS(ReadDword(key, u"UseVirtualPorts", &value))) UseVirtualPorts = value;
    (void)ZwClose(key);
}

void SetUpDriverData(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    TheDriverObject = driverObject;
    driverObject->DriverUnload = &DriverUnload;
    driverObject->DriverExtension->AddDevice = &AddDevice;
    for (PDRIVER_DISPATCH& entry : driverObject->MajorFunction) entry = &Dispatch;

    OsLevel = QueryOsLevel(driverObject);
    IsLegacyOs = OsLevel <= kLegacyOsLevel;

    UseVirtualPorts = 1;
    VirtualPortCounter = -1;
    InitializeExitList();
    // The serial ports' alias-port list registers its own teardown first, so
    // that it runs last, once it exists.
    InitializeGlobalMutex();
    ServiceKeyPath.Free();
    RegisterExitAction(&ReleaseServiceKeyPath, nullptr);
    FiveTicksInMilliseconds = (KeQueryTimeIncrement() / 10000) * 5;
    InitializeHolderList();
    RegisterExitAction(&DestroyHolderList, nullptr);

    try {
        ServiceKeyPath.Assign(registryPath->Buffer, registryPath->Length / sizeof(WCHAR));
    } catch (const kernel::StatusException&) {
        ServiceKeyPath.Free();
    }
    ReadServiceKey(registryPath);
}

}  // namespace

VOID DriverUnload(PDRIVER_OBJECT driverObject) {
    for (PDEVICE_OBJECT device = driverObject->DeviceObject; device != nullptr;) {
        DeviceObjectBase* object = DeviceObjectBase::FromDeviceObject(device);
        if (object->DeleteFirstOnUnload()) {
            delete object;
            device = driverObject->DeviceObject;  // the chain changed: start again
        } else {
            device = device->NextDevice;
        }
    }
    while (driverObject->DeviceObject != nullptr) {
        delete DeviceObjectBase::FromDeviceObject(driverObject->DeviceObject);
    }
    RunExitList();
}

}  // namespace framework

NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath) {
    try {
        framework::SetUpDriverData(driverObject, registryPath);
    } catch (const kernel::StatusException& raised) {
        framework::DriverUnload(driverObject);
        return raised.Status();
    }
    return STATUS_SUCCESS;
}
