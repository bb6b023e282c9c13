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
    if (const NTSTATUS refused = EntryRefusal(); !NT_SUCCESS(refused)) {
        return framework::Complete(irp, refused, 0);
    }
    // The flush event is cleared when the flush starts, not here: a flush that
    // is cancelled or purged while it waits in the queue never completes
    // through the drain, and an event cleared for it would hold up the close
    // for ever.
    return QueueOnPath(irp, kWriteQueue);
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
