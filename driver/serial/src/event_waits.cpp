// Event waits: the wait mask, the event history and the one WAIT_ON_MASK
// request the wait holder keeps.
#include <cstring>

#include "serial/serial_port.h"

namespace serial {

namespace {

// Every EV_* bit the platform defines; larger masks are refused.
constexpr ULONG kAllEvents = 0x1FFF;

// The WAIT_ON_MASK result is one 32-bit event mask.
constexpr ULONG kEventMaskSize = sizeof(ULONG);

}  // namespace

void SerialPort::RecordEvents(ULONG events) {
    eventHistory |= events & activeWaitMask;
}

void SerialPort::CheckWait() {
    eventHistory &= waitMask;
    if (eventHistory != 0) {
        PostEvent(PortEvent{PortEvent::kWaitEnds, STATUS_SUCCESS, kEventMaskSize});
    }
}

bool SerialPort::SetWaitMask(ULONG mask) {
    waitMask = mask;
    activeWaitMask = mask;
    eventHistory &= mask;
    return true;
}

NTSTATUS SerialPort::SetWaitMaskRequest(PIRP irp) {
    // The control-code table has checked the input length.
    ULONG mask = 0;
    std::memcpy(&mask, irp->AssociatedIrp.SystemBuffer, sizeof mask);
    if ((mask & ~kAllEvents) != 0) return STATUS_INVALID_PARAMETER;

    // Taken out of the holder first, so neither the event engine nor a
    // cancellation can end it while it is completed here.
    const PIRP heldWait = waitHolder.Take();
    WithPortLock([&] { return SetWaitMask(mask); });
    if (heldWait != nullptr) {
        const PIO_STACK_LOCATION heldStack = IoGetCurrentIrpStackLocation(heldWait);
        if (heldStack->Parameters.DeviceIoControl.OutputBufferLength >= kEventMaskSize &&
            heldWait->AssociatedIrp.SystemBuffer != nullptr) {
            const ULONG noEvents = 0;
            std::memcpy(heldWait->AssociatedIrp.SystemBuffer, &noEvents, sizeof noEvents);
        }
        heldWait->IoStatus.Status = STATUS_SUCCESS;
        heldWait->IoStatus.Information = kEventMaskSize;
        IoCompleteRequest(heldWait, IO_SERIAL_INCREMENT);
    }
    return STATUS_SUCCESS;
}

NTSTATUS SerialPort::WaitOnMaskRequest(PIRP irp) {
    // The control-code table has checked the output length.
    ULONG mask = 0;
    WithPortLock([&] { mask = waitMask; });
    if (mask == 0) return STATUS_INVALID_PARAMETER;
    const NTSTATUS held = waitHolder.Hold(irp);
    if (held == STATUS_DEVICE_BUSY) return STATUS_INVALID_PARAMETER;  // one wait at a time
    if (held != STATUS_PENDING) return held;
    // From here the holder owns the request: it may already be complete.
    WithPortLock([this] { CheckWait(); });
    return STATUS_PENDING;
}

}  // namespace serial
