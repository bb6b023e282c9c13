// Event waits, flow control and the modem and line status.
// (placeholder bodies; being written)
#include "serial/serial_port.h"

namespace serial {

void SerialPort::CheckWait() {}
bool SerialPort::SetWaitMask(ULONG) {
    return true;
}
NTSTATUS SerialPort::SetWaitMaskRequest(PIRP) {
    return STATUS_NOT_IMPLEMENTED;
}
NTSTATUS SerialPort::WaitOnMaskRequest(PIRP) {
    return STATUS_NOT_IMPLEMENTED;
}
void SerialPort::ProcessModemStatus(UCHAR) {}
void SerialPort::ProcessLineStatus(UCHAR) {}
void SerialPort::ApplyHandFlow(ULONG, ULONG, bool, bool) {}
bool SerialPort::SetHandFlow(const SERIAL_HANDFLOW& value) {
    handFlow = value;
    return true;
}
void SerialPort::OnReceiveAlmostFull() {}
void SerialPort::OnReceiveDrained() {}
bool SerialPort::SetXoff() {
    return true;
}
bool SerialPort::SetXon() {
    return true;
}

}  // namespace serial
