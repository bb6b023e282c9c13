#include "serial/serial_port.h"

#include "framework/driver_globals.h"
#include "framework/pool.h"

namespace serial {

namespace {

// The identifiers of the timers, by TimerIndex.
constexpr ULONG kTimerIdentifiers[kTimerCount] = {
    PortEvent::kReadEnds,          PortEvent::kWriteEnds,          PortEvent::kIntervalExpired,
    PortEvent::kImmediateCharEnds, PortEvent::kXoffCounterExpired, PortEvent::kDrainExpired,
};

}  // namespace

SerialPort::SerialPort(const framework::DeviceCreation& creation, PDEVICE_OBJECT physicalDevice)
    : PnpDevice(creation, physicalDevice) {
    KeInitializeEvent(&flushEvent, NotificationEvent, TRUE);
    KeInitializeEvent(&closeEvent, NotificationEvent, FALSE);
    KeInitializeSpinLock(&actionLock);
    InitializeListHead(&freeActions);
    InitializeListHead(&pendingActions);
    InitializeListHead(&overflowRequests);
    for (PortAction& action : actions) InsertTailList(&freeActions, &action.link);
    runnerDpc.Initialize(this, &SerialPort::OnRunnerDpc);
}

SerialPort::~SerialPort() {
    RemoveSerialCommValue();
    ShutdownPort();
    FreeReceiveBuffer();
}

void SerialPort::ShutdownPort() {
    immediateCharHolder.Close();
    waitHolder.Close();
    // Nothing may post events any more: stop the timers and the cancel checks,
    // then let the runner finish what was posted.
    for (PortTimer& timer : timers) timer.Shutdown();
    readCancelWork.Shutdown();
    writeCancelWork.Shutdown();
    moreWritesWork.Shutdown();
    KeFlushQueuedDpcs();
    actionRunner.Shutdown();
    RunActions();  // a timer these set stays unset: the timers are shut down
}

void SerialPort::InitializePort(framework::StartPolicy policy) {
    CreateQueues(3, [&](ULONG) {
        return new framework::DeviceQueue(this, &SerialPort::StartRequest, policy);
    });
    for (ULONG index = 0; index < kTimerCount; ++index) {
        if (!timers[index].Initialize(this, kTimerIdentifiers[index])) {
            ExRaiseStatus(STATUS_INSUFFICIENT_RESOURCES);
        }
    }
    if (!actionRunner.Allocate(DeviceObject(), &SerialPort::ActionRunnerRoutine, this) ||
        !readCancelWork.Allocate(DeviceObject(), &SerialPort::ReadCancelRoutine, this) ||
        !writeCancelWork.Allocate(DeviceObject(), &SerialPort::WriteCancelRoutine, this) ||
        !moreWritesWork.Allocate(DeviceObject(), &SerialPort::MoreWritesRoutine, this)) {
        ExRaiseStatus(STATUS_INSUFFICIENT_RESOURCES);
    }
}

void SerialPort::CancelOwnRequests() {
    WithPortLock([this] { return AbortCurrentIo(); });
}

DEVICE_POWER_STATE SerialPort::DeviceStateForSystemState(SYSTEM_POWER_STATE state) {
    if (IsOpen() && (state == PowerSystemWorking || state == PowerSystemUnspecified)) {
        return PowerDeviceD0;
    }
    return PnpDevice::DeviceStateForSystemState(state);
}

NTSTATUS SerialPort::HandleOtherIoctl(PIRP, ULONG_PTR*) {
    return STATUS_INVALID_PARAMETER;
}

NTSTATUS SerialPort::HandleOtherInternalIoctl(PIRP, ULONG_PTR*) {
    return STATUS_INVALID_PARAMETER;
}

bool SerialPort::OnOpenSettings() {
    ULONG converted = 1;
    (void)ValidateBaudRate(baudRate, &converted);
    (void)ApplyBaudRate(converted);
    drainState = kDrainIdle;
    (void)GetModemStatus(nullptr);
    (void)SetHandFlow(handFlow);
    portActive = true;
    return true;
}

bool SerialPort::OnPowerUp() {
    // The open settings start the drain sequencer afresh; a flush or close drain
    // running across the power-up must go on, or its request would never end.
    const UCHAR drain = drainState;
    if (rxBuffer != nullptr && !OnOpenSettings()) return false;
    drainState = drain;
    ULONG status = 0;
    (void)GetModemStatus(&status);
    // Every line counts as changed.
    ProcessModemStatus(static_cast<UCHAR>((status & 0xF0) | 0x0F));
    return true;
}

bool SerialPort::SetChars(const SERIAL_CHARS& chars) {
    specialChars = chars;
    return true;
}

bool SerialPort::SetEscapeChar(UCHAR character) {
    escapeChar = character;
    return true;
}

bool SerialPort::SetTimeouts(const SERIAL_TIMEOUTS& value) {
    timeouts = value;
    return true;
}

bool SerialPort::AbortCurrentIo() {
    PostEvent({PortEvent::kReadEnds | PortEvent::kWriteEnds, STATUS_DEVICE_POWERED_OFF, 0});
    return true;
}

}  // namespace serial
