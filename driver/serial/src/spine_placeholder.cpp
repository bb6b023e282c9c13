// (placeholder bodies; being written)
#include "framework/irp_helpers.h"
#include "serial/serial_port.h"

namespace serial {

NTSTATUS SerialPort::DispatchCreate(PIRP irp) {
    InterlockedIncrement(&openCount);
    return framework::Complete(irp, STATUS_SUCCESS, 0);
}
NTSTATUS SerialPort::DispatchClose(PIRP irp) {
    InterlockedDecrement(&openCount);
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
bool SerialPort::OnClose() {
    return true;
}

void SerialPort::FreeReceiveBuffer() {}

}  // namespace serial
