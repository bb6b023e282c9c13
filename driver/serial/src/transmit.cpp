// Transmitting: the transmit source, writes, flushes, the drain sequencer, the
// immediate character, XOFF counters and break.
// (placeholder bodies; being written)
#include "serial/serial_port.h"

namespace serial {

ULONG SerialPort::TakeTransmitBytes(UCHAR*, ULONG, bool* immediate) {
    if (immediate != nullptr) *immediate = false;
    return 0;
}
ULONG SerialPort::BytesToTransmit() const {
    return 0;
}
void SerialPort::DrainStep(UCHAR) {}
bool SerialPort::StartWrite(PIRP irp) {
    irp->IoStatus.Status = STATUS_NOT_IMPLEMENTED;
    irp->IoStatus.Information = 0;
    return false;
}
void SerialPort::StartFlush(PIRP) {}
NTSTATUS SerialPort::DispatchWrite(PIRP irp) {
    irp->IoStatus.Status = STATUS_NOT_IMPLEMENTED;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_NOT_IMPLEMENTED;
}
NTSTATUS SerialPort::DispatchFlushBuffers(PIRP irp) {
    irp->IoStatus.Status = STATUS_NOT_IMPLEMENTED;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_NOT_IMPLEMENTED;
}
void SerialPort::PurgeTransmit(ULONG) {}
void SerialPort::EndXoffCounterForMoreWrites() {}
NTSTATUS SerialPort::ImmediateCharRequest(PIRP) {
    return STATUS_NOT_IMPLEMENTED;
}
void ImmediateCharHolder::BeforeCancelComplete(PIRP, NTSTATUS, ULONG_PTR) {}
bool SerialPort::SetBreakOn() {
    return true;
}
bool SerialPort::SetBreakOff() {
    return true;
}
void SerialPort::OnWriteQueued() {}

}  // namespace serial
