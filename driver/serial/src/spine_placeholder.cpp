// (placeholder bodies; being written)
#include "framework/irp_helpers.h"
#include "serial/serial_port.h"

namespace serial {

SerialPort::SerialPort(const framework::DeviceCreation& creation, PDEVICE_OBJECT physicalDevice)
    : PnpDevice(creation, physicalDevice) {
    KeInitializeEvent(&flushEvent, NotificationEvent, TRUE);
    KeInitializeEvent(&closeEvent, NotificationEvent, FALSE);
}
SerialPort::~SerialPort() {}
void SerialPort::InitializePort(framework::StartPolicy policy) {
    CreateQueues(3, [&](ULONG) {
        return new framework::DeviceQueue(this, &SerialPort::StartRequest, policy);
    });
}
NTSTATUS SerialPort::DispatchCreate(PIRP irp) {
    return framework::Complete(irp, STATUS_SUCCESS, 0);
}
NTSTATUS SerialPort::DispatchClose(PIRP irp) {
    return framework::Complete(irp, STATUS_SUCCESS, 0);
}
NTSTATUS SerialPort::DispatchCleanup(PIRP irp) {
    return framework::Complete(irp, STATUS_SUCCESS, 0);
}
NTSTATUS SerialPort::DispatchQueryInformation(PIRP irp) {
    return framework::Complete(irp, STATUS_INVALID_PARAMETER, 0);
}
NTSTATUS SerialPort::DispatchSetInformation(PIRP irp) {
    return framework::Complete(irp, STATUS_SUCCESS, 0);
}
NTSTATUS SerialPort::DispatchDeviceControl(PIRP irp) {
    return framework::Complete(irp, STATUS_NOT_IMPLEMENTED, 0);
}
NTSTATUS SerialPort::DispatchInternalDeviceControl(PIRP irp) {
    return framework::Complete(irp, STATUS_NOT_IMPLEMENTED, 0);
}
void SerialPort::CancelOwnRequests() {}
DEVICE_POWER_STATE SerialPort::DeviceStateForSystemState(SYSTEM_POWER_STATE state) {
    return PnpDevice::DeviceStateForSystemState(state);
}
bool SerialPort::OnClose() {
    return true;
}
bool SerialPort::GetCommStatus(SERIAL_STATUS*) {
    return true;
}
bool SerialPort::GetProperties(SERIAL_COMMPROP*) {
    return true;
}
NTSTATUS SerialPort::HandleOtherIoctl(PIRP, ULONG_PTR*) {
    return STATUS_INVALID_PARAMETER;
}
NTSTATUS SerialPort::HandleOtherInternalIoctl(PIRP, ULONG_PTR*) {
    return STATUS_INVALID_PARAMETER;
}
bool SerialPort::Purge(ULONG) {
    return true;
}
bool SerialPort::OnOpenSettings() {
    return true;
}
bool SerialPort::OnPowerUp() {
    return true;
}
bool SerialPort::SetChars(const SERIAL_CHARS&) {
    return true;
}
bool SerialPort::SetEscapeChar(UCHAR) {
    return true;
}
bool SerialPort::SetTimeouts(const SERIAL_TIMEOUTS&) {
    return true;
}
bool SerialPort::AbortCurrentIo() {
    return true;
}
void SerialPort::PostEvent(PortEvent) {}
VOID SerialPort::StartRequest(PIRP) {}
void SerialPort::ArmCurrentCancel(PIRP, bool) {}

}  // namespace serial
