#include "framework/pnp_device.h"

namespace framework {

PnpDevice::PnpDevice(const DeviceCreation& creation, PDEVICE_OBJECT physicalDevice)
    : DeviceObjectBase(creation), physicalDevice_(physicalDevice) {}

// WMI deregistration, the power callbacks and the interface list join this
// teardown with the parts that build them.
PnpDevice::~PnpDevice() {
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

DEVICE_POWER_STATE PnpDevice::DeviceStateForSystemState(SYSTEM_POWER_STATE state) {
    return state == PowerSystemWorking ? PowerDeviceD0 : PowerDeviceD3;
}

}  // namespace framework
