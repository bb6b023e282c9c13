// The end of transmission: FLUSH_BUFFERS and the drain sequencer that times
// flush, close and RTS transmit toggling by character times.
#include "framework/irp_helpers.h"
#include "serial/serial_port.h"

namespace serial {

namespace {

// A flush or close waits this many character times after the last byte.
constexpr ULONG kDrainCharacterTimes = 10;

}  // namespace

NTSTATUS SerialPort::DispatchFlushBuffers(PIRP irp) {
    if (!IsOpen()) return framework::Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (ErrorAbortInForce()) return framework::Complete(irp, STATUS_CANCELLED, 0);
    const NTSTATUS status = PowerUp(KeGetCurrentIrql() == PASSIVE_LEVEL);
    if (!NT_SUCCESS(status)) return framework::Complete(irp, status, 0);
    // The flush event is cleared when the flush starts, not here: a flush that
    // is cancelled or purged while it waits in the queue never completes
    // through the drain, and an event cleared for it would hold up the close
    // for ever.
    IoMarkIrpPending(irp);
    Queue(kWriteQueue)->QueueRequest(irp);
    return STATUS_PENDING;
}

void SerialPort::StartFlush(PIRP irp) {
    // Completed after the drain, which also restarts the queue and signals the event.
    WithPortLock([this, irp] {
        KeClearEvent(&flushEvent);
        (void)InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&flushRequest), irp);
        DrainStep(kDrainFlushRequested);
    });
}

void SerialPort::DrainStep(UCHAR requestedState) {
    // A close or flush drain in progress is not disturbed by transmit toggling:
    // only its own timer ends it, so a toggle request cannot cut it short.
    if (drainState >= kDrainCloseDraining) {
        if (requestedState == kDrainTransmitToggle) return;
    } else {
        drainState = requestedState;
    }
    const ULONG busy = TransmitterBusy();
    switch (drainState) {
        case kDrainTransmitToggle:
            if (busy == 0) {
                (void)ClearRts();
            } else {
                PostEvent({PortEvent::kStartDrainWait, STATUS_SUCCESS, busy});
            }
            break;
        case kDrainCloseRequested:
            drainState = kDrainCloseDraining;
            PostEvent({PortEvent::kStartDrainWait, STATUS_SUCCESS, busy + kDrainCharacterTimes});
            break;
        case kDrainFlushRequested:
            drainState = kDrainFlushDraining;
            PostEvent({PortEvent::kStartDrainWait, STATUS_SUCCESS, busy + kDrainCharacterTimes});
            break;
        case kDrainCloseDraining:
            drainState = kDrainIdle;
            PostEvent({PortEvent::kCloseDrained, STATUS_SUCCESS, 0});
            break;
        case kDrainFlushDraining:
            drainState = kDrainIdle;
            PostEvent({PortEvent::kFlushDrained, STATUS_SUCCESS, 0});
            break;
        default:
            break;
    }
}

}  // namespace serial
