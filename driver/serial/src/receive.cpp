// Receiving: the receive ring, PutReceived and the read requests.
// (placeholder bodies; being written)
#include "serial/serial_port.h"

namespace serial {

ULONG SerialPort::PutReceived(const UCHAR*, ULONG, bool) {
    return 0;
}
UCHAR* SerialPort::ReceiveDestination(ULONG, ULONG* room, bool* intoRead) {
    *room = 0;
    *intoRead = false;
    return nullptr;
}
void SerialPort::AccountReceived(ULONG, bool) {}
bool SerialPort::StartRead(PIRP irp) {
    irp->IoStatus.Status = STATUS_NOT_IMPLEMENTED;
    irp->IoStatus.Information = 0;
    return false;
}
NTSTATUS SerialPort::DispatchRead(PIRP irp) {
    irp->IoStatus.Status = STATUS_NOT_IMPLEMENTED;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_NOT_IMPLEMENTED;
}
void SerialPort::PurgeReceive(ULONG) {}
UCHAR* SerialPort::ReplaceReceiveBuffer(UCHAR* storage, ULONG) {
    return storage;
}
NTSTATUS SerialPort::SetQueueSize(PIRP) {
    return STATUS_NOT_IMPLEMENTED;
}

}  // namespace serial
