#include "framework/pnp_device.h"

#include "framework/pool.h"

namespace framework {

PnpDevice::PnpDevice(const DeviceCreation& creation, PDEVICE_OBJECT physicalDevice)
    : DeviceObjectBase(creation), physicalDevice_(physicalDevice) {
    InitializeListHead(&interfaces_);
}

// WMI deregistration and the power callbacks join this teardown with the parts
// that build them.
PnpDevice::~PnpDevice() {
    while (!IsListEmpty(&interfaces_)) {
        auto* entry = CONTAINING_RECORD(RemoveHeadList(&interfaces_), InterfaceEntry, links);
        if (entry->enabled) (void)IoSetDeviceInterfaceState(&entry->linkName, FALSE);
        RtlFreeUnicodeString(&entry->linkName);
        PoolFree(entry);
    }
    if (lowerDevice_ != nullptr) IoDetachDevice(lowerDevice_);
}

NTSTATUS PnpDevice::Initialize() {
    const NTSTATUS status = DeviceObjectBase::Initialize();
    if (!NT_SUCCESS(status)) return status;
    lowerDevice_ = IoAttachDeviceToDeviceStack(DeviceObject(), physicalDevice_);
    if (lowerDevice_ == nullptr) ExRaiseStatus(STATUS_DEVICE_REMOVED);
    // WMI registration follows here once the WMI plumbing exists.
    return STATUS_SUCCESS;
}

NTSTATUS PnpDevice::RegisterInterface(const GUID& interfaceClass) {
    auto* entry = static_cast<InterfaceEntry*>(PoolAllocate(PagedPool, sizeof(InterfaceEntry)));
    if (entry == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    entry->linkName = {};
    entry->enabled = false;
    const NTSTATUS status =
        IoRegisterDeviceInterface(physicalDevice_, &interfaceClass, nullptr, &entry->linkName);
    if (!NT_SUCCESS(status)) {
        PoolFree(entry);
        return status;
    }
    InsertTailList(&interfaces_, &entry->links);
    return status;
}

void PnpDevice::EnableAllInterfaces(bool enable) {
    for (PLIST_ENTRY link = interfaces_.Flink; link != &interfaces_; link = link->Flink) {
        auto* entry = CONTAINING_RECORD(link, InterfaceEntry, links);
        if (entry->enabled == enable) continue;
        if (NT_SUCCESS(IoSetDeviceInterfaceState(&entry->linkName, enable ? TRUE : FALSE))) {
            entry->enabled = enable;
        }
    }
}

NTSTATUS PnpDevice::UpdateWaitWake(WaitWakeOperation operation) {
    if (operation == WaitWakeOperation::Enable) wakeEnabled_ = 1;
    if (operation == WaitWakeOperation::Disable) wakeEnabled_ = 0;
    return STATUS_SUCCESS;
}

DEVICE_POWER_STATE PnpDevice::DeviceStateForSystemState(SYSTEM_POWER_STATE state) {
    return state == PowerSystemWorking ? PowerDeviceD0 : PowerDeviceD3;
}

}  // namespace framework
