// IMMEDIATE_CHAR: one character sent ahead of the current write, its request
// held until the character goes out, its timer expires, or it is cancelled.
#include "serial/serial_port.h"

namespace serial {

NTSTATUS SerialPort::ImmediateCharRequest(PIRP irp) {
    // The control-code table has checked the input length.
    const UCHAR character = *static_cast<const UCHAR*>(irp->AssociatedIrp.SystemBuffer);
    NTSTATUS status = STATUS_PENDING;
    // Under the port lock from the hold on, so that a cancellation (which takes
    // the lock too, see below) sees the character either not yet or fully pending.
    WithPortLock([&] {
        status = immediateCharHolder.Hold(irp);
        if (status == STATUS_DEVICE_BUSY) status = STATUS_INVALID_PARAMETER;  // one outstanding
        if (status != STATUS_PENDING) return;
        const ULONGLONG total = static_cast<ULONGLONG>(timeouts.WriteTotalTimeoutMultiplier) +
                                timeouts.WriteTotalTimeoutConstant;
        if (total != 0) {
            TimerAt(TimerIndex::ImmediateChar).Set(-static_cast<LONGLONG>(total) * 10000);
        } else {
            // An earlier character's timer would otherwise time this one out.
            TimerAt(TimerIndex::ImmediateChar).Cancel();
        }
        immediateChar = character;
        immediateCharPending = true;
        (void)InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&immediateCharRequest),
                                         irp);
        StartTransmit();
    });
    return status;
}

void SerialPort::HandOutImmediateChar() {
    immediateCharPending = false;
    (void)InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&immediateCharRequest),
                                     nullptr);
    PostEvent({PortEvent::kImmediateCharEnds, STATUS_SUCCESS, 1});
}

void SerialPort::WithdrawImmediateChar(PIRP irp) {
    // Only the character of this request: a later request's stays.
    if (InterlockedCompareExchangePointer(reinterpret_cast<PVOID volatile*>(&immediateCharRequest),
                                          nullptr, irp) == irp) {
        immediateCharPending = false;
    }
}

// Runs from a cancel path without the port lock. Where the port lock may be
// taken (up to maxInlineIrql) the character is withdrawn under it; above that
// IRQL the request and the flag are cleared with interlocked operations, and
// the transmit source, which reads them under the lock, at worst sends the
// character of a request already cancelled.
void ImmediateCharHolder::BeforeCancelComplete(PIRP irp, NTSTATUS, ULONG_PTR) {
    if (KeGetCurrentIrql() <= port_.maxInlineIrql) {
        port_.WithPortLock([this, irp] { port_.WithdrawImmediateChar(irp); });
    } else {
        port_.WithdrawImmediateChar(irp);
    }
}

}  // namespace serial
