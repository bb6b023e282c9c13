// Cancellation of the current read and the current write. The cancel routine
// only schedules a check under the port lock; the check ends the request if it
// is still the current one and has been cancelled, so a cancellation and a
// normal end never both complete it.
#include "serial/serial_port.h"

namespace serial {

void SerialPort::ArmCurrentCancel(PIRP irp, bool isRead) {
    (void)IoSetCancelRoutine(
        irp, isRead ? &SerialPort::CancelCurrentRead : &SerialPort::CancelCurrentWrite);
}

VOID SerialPort::CancelCurrentRead(PDEVICE_OBJECT deviceObject, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    static_cast<SerialPort*>(FromDeviceObject(deviceObject))->ScheduleCancelCheck(true);
}

VOID SerialPort::CancelCurrentWrite(PDEVICE_OBJECT deviceObject, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    static_cast<SerialPort*>(FromDeviceObject(deviceObject))->ScheduleCancelCheck(false);
}

// The check takes the port lock, so above maxInlineIrql it runs in a work item.
void SerialPort::ScheduleCancelCheck(bool isRead) {
    if (KeGetCurrentIrql() <= maxInlineIrql) {
        CheckCurrentCancelled(isRead);
    } else {
        (isRead ? readCancelWork : writeCancelWork).Queue();
    }
}

void SerialPort::ReadCancelRoutine(PVOID context) {
    static_cast<SerialPort*>(context)->CheckCurrentCancelled(true);
}

void SerialPort::WriteCancelRoutine(PVOID context) {
    static_cast<SerialPort*>(context)->CheckCurrentCancelled(false);
}

void SerialPort::CheckCurrentCancelled(bool isRead) {
    WithPortLock([this, isRead] {
        // The current request belongs to the port until it leaves the slot, which
        // happens only under the port lock, so its Cancel flag can be read here.
        PIRP current = isRead ? currentRead : currentWrite;
        if (current == nullptr || !current->Cancel) return;
        PostEvent({isRead ? PortEvent::kReadEnds : PortEvent::kWriteEnds, STATUS_CANCELLED, 0});
    });
}

}  // namespace serial
