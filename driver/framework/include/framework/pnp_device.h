// A function device of the driver: a DeviceObjectBase attached to the stack of
// its physical device object, with the state that plug-and-play, power and WMI
// handling keep. Those handlers are not part of this class yet: IRP_MJ_PNP,
// IRP_MJ_POWER and IRP_MJ_SYSTEM_CONTROL still get the base class's
// STATUS_NOT_SUPPORTED, and the operations below that belong to them say so.
#pragma once

#include <wdm.h>

#include "framework/device_object_base.h"

namespace framework {

enum class PnpState : ULONG {
    NotStarted = 0,
    Started = 1,
    StopPending = 2,
    RemovePending = 3,
    SurpriseRemoved = 4,
    Removed = 5,
};

// Count (1 while the device lives), removing flag, and the event the removal
// waits on.
struct RemoveLock {
    RemoveLock() { KeInitializeEvent(&event, NotificationEvent, FALSE); }
    LONG count = 1;
    UCHAR removing = 0;
    KEVENT event;
};

enum class WaitWakeOperation : ULONG { Enable = 0, Disable = 1, Reevaluate = 2, Cancel = 3 };

class PnpDevice : public DeviceObjectBase {
  public:
    PnpDevice(const DeviceCreation& creation, PDEVICE_OBJECT physicalDevice);
    ~PnpDevice() override;

    // Clears DO_DEVICE_INITIALIZING, sets DO_POWER_PAGABLE and attaches to the
    // physical device's stack; raises STATUS_DEVICE_REMOVED when that fails.
    [[nodiscard]] NTSTATUS Initialize() override;

    // Plug-and-play minor handlers (not yet dispatched: STATUS_NOT_SUPPORTED).
    virtual NTSTATUS OnStartDevice(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS OnQueryRemoveDevice(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS OnRemoveDevice(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS OnCancelRemoveDevice(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS OnStopDevice(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS OnQueryDeviceRelations(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS OnQueryStopDevice(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS OnCancelStopDevice(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS OnQueryCapabilities(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS OnQueryPnpDeviceState(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS OnSurpriseRemoval(PIRP irp) { return DispatchUnsupported(irp); }
    // Power policy and WMI controls (not built yet: STATUS_NOT_SUPPORTED, false).
    [[nodiscard]] virtual NTSTATUS RequestDevicePower(DEVICE_POWER_STATE, bool) {
        return STATUS_NOT_SUPPORTED;
    }
    [[nodiscard]] virtual bool InitPowerEnableControl() { return false; }
    [[nodiscard]] virtual bool InitWakeEnableControl() { return false; }
    virtual void AdjustCapabilities(DEVICE_CAPABILITIES*, bool) {}
    virtual void OnWaitWakeComplete(NTSTATUS) {}
    // PowerDeviceD0 for PowerSystemWorking, otherwise PowerDeviceD3 until the
    // device's capabilities are kept.
    [[nodiscard]] virtual DEVICE_POWER_STATE DeviceStateForSystemState(SYSTEM_POWER_STATE state);
    // STATUS_SUCCESS in D0; the power request for other states comes with the
    // power policy.
    [[nodiscard]] virtual NTSTATUS PowerUp(bool) {
        return devicePowerState_ == PowerDeviceD0 ? STATUS_SUCCESS : STATUS_NOT_SUPPORTED;
    }
    [[nodiscard]] virtual bool CanStop() { return true; }
    [[nodiscard]] virtual bool CanRemove() { return true; }
    [[nodiscard]] virtual NTSTATUS StartDevice(PVOID, PVOID) { return STATUS_UNSUCCESSFUL; }
    virtual void StopDevice(bool) {}
    [[nodiscard]] virtual bool CanChangePowerState(DEVICE_POWER_STATE, DEVICE_POWER_STATE) {
        return true;
    }

    // Registers an interface of the physical device (no reference string); it is
    // enabled with EnableAllInterfaces and disabled when the device goes.
    [[nodiscard]] NTSTATUS RegisterInterface(const GUID& interfaceClass);
    void EnableAllInterfaces(bool enable);
    // Enable and Disable set and clear the wake-enabled byte; arming and
    // cancelling the wait-wake request itself come with the power policy.
    NTSTATUS UpdateWaitWake(WaitWakeOperation operation);
    [[nodiscard]] bool WakeEnabled() const { return wakeEnabled_ != 0; }

    [[nodiscard]] PDEVICE_OBJECT PhysicalDevice() const { return physicalDevice_; }
    [[nodiscard]] PDEVICE_OBJECT LowerDevice() const { return lowerDevice_; }
    [[nodiscard]] PnpState State() const { return pnpState_; }
    [[nodiscard]] DEVICE_POWER_STATE DevicePowerState() const { return devicePowerState_; }
    [[nodiscard]] SYSTEM_POWER_STATE SystemPowerState() const { return systemPowerState_; }
    [[nodiscard]] bool EverStarted() const { return everStarted_ != 0; }
    [[nodiscard]] bool SurpriseRemovalOk() const { return surpriseRemovalOk_ != 0; }

  protected:
    struct InterfaceEntry {
        LIST_ENTRY links;
        UNICODE_STRING linkName;
        bool enabled;
    };

    PDEVICE_OBJECT physicalDevice_;
    LIST_ENTRY interfaces_;
    PDEVICE_OBJECT lowerDevice_ = nullptr;
    RemoveLock removeLock_;
    PnpState pnpState_ = PnpState::NotStarted;
    PnpState stateBeforeQueryRemove_ = PnpState::NotStarted;
    ULONG deviceStateChangeMask_ = 0;
    ULONG deviceStateValues_ = 0;
    UCHAR wmiRegistered_ = 0;
    UCHAR surpriseRemovalOk_ = 1;
    UCHAR everStarted_ = 0;
    DEVICE_POWER_STATE devicePowerState_ = PowerDeviceD0;
    SYSTEM_POWER_STATE systemPowerState_ = PowerSystemWorking;
    LONG waitWakeRequested_ = 0;
    LONG waitWakeCompletionInterlock_ = 0;
    PIRP waitWakeIrp_ = nullptr;
    UCHAR wakeEnabled_ = 0;
    UCHAR queuesStalledForPower_ = 0;
    UCHAR callbackDirection_ = 0;
    UCHAR capabilitiesKnown_ = 0;
    UCHAR powerEnableValue_ = 0;
    UCHAR wakeEnableValue_ = 0;
};

}  // namespace framework
