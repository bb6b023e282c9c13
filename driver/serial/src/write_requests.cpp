// Writes, XOFF counters, flushes, the immediate character and the transmit part
// of purging.
#include "framework/driver_globals.h"
#include "framework/irp_helpers.h"
#include "serial/serial_port.h"

namespace serial {

namespace {

// Milliseconds as a timer due time, capped where a 32-bit count ends.
[[nodiscard]] ULONG CappedMilliseconds(ULONGLONG milliseconds) {
    return milliseconds > MAXULONG ? MAXULONG : static_cast<ULONG>(milliseconds);
}

}  // namespace

NTSTATUS SerialPort::DispatchWrite(PIRP irp) {
    if (!IsOpen()) return framework::Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (ErrorAbortInForce()) return framework::Complete(irp, STATUS_CANCELLED, 0);
    const NTSTATUS status = PowerUp(KeGetCurrentIrql() == PASSIVE_LEVEL);
    if (!NT_SUCCESS(status)) return framework::Complete(irp, status, 0);
    OnWriteQueued();
    IoMarkIrpPending(irp);
    Queue(kWriteQueue)->QueueRequest(irp);
    return STATUS_PENDING;
}

NTSTATUS SerialPort::DispatchFlushBuffers(PIRP irp) {
    if (!IsOpen()) return framework::Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    if (ErrorAbortInForce()) return framework::Complete(irp, STATUS_CANCELLED, 0);
    const NTSTATUS status = PowerUp(KeGetCurrentIrql() == PASSIVE_LEVEL);
    if (!NT_SUCCESS(status)) return framework::Complete(irp, status, 0);
    IoMarkIrpPending(irp);
    Queue(kWriteQueue)->QueueRequest(irp);
    return STATUS_PENDING;
}

// The port lock can be taken only up to maxInlineIrql; above it a work item
// ends the XOFF counter.
void SerialPort::OnWriteQueued() {
    if (KeGetCurrentIrql() <= maxInlineIrql) {
        WithPortLock([this] { EndXoffCounterForMoreWrites(); });
    } else {
        moreWritesWork.Queue();
    }
}

void SerialPort::MoreWritesRoutine(PVOID context) {
    auto* port = static_cast<SerialPort*>(context);
    port->WithPortLock([port] { port->EndXoffCounterForMoreWrites(); });
}

void SerialPort::EndXoffCounterForMoreWrites() {
    if (currentWrite != nullptr && writeIsXoffCounter) {
        PostEvent({PortEvent::kWriteEnds, STATUS_SERIAL_MORE_WRITES, 0});
    }
}

bool SerialPort::StartWrite(PIRP irp) {
    irp->IoStatus.Information = 0;
    if (ErrorAbortInForce()) {
        irp->IoStatus.Status = STATUS_CANCELLED;
        return false;
    }
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) {  // an XOFF counter
        if (Queue(kWriteQueue)->HasWaiting()) {
            irp->IoStatus.Status = STATUS_SERIAL_MORE_WRITES;
            return false;
        }
        auto* counter = static_cast<SERIAL_XOFF_COUNTER*>(irp->AssociatedIrp.SystemBuffer);
        xoffCounter = counter->Counter;
        xoffCharPending = true;
        writeIsXoffCounter = true;
        xoffTimeout = counter->Timeout > framework::FiveTicksInMilliseconds
                          ? counter->Timeout
                          : framework::FiveTicksInMilliseconds;
        writeTaken = 0;
        writeBuffer = &counter->XoffChar;
        writeLength = 1;
    } else {
        writeBuffer = static_cast<const UCHAR*>(irp->AssociatedIrp.SystemBuffer);
        writeLength = stack->Parameters.Write.Length;
        writeTaken = 0;
        writeIsXoffCounter = false;
        xoffCharPending = false;
        if (writeLength == 0 || writeBuffer == nullptr) {
            irp->IoStatus.Status = writeLength == 0 ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
            writeLength = 0;
            return false;
        }
    }
    (void)InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&currentWrite), irp);
    ArmCurrentCancel(irp, false);
    if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
        (void)InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&currentWrite), nullptr);
        writeIsXoffCounter = false;
        xoffCharPending = false;
        irp->IoStatus.Status = STATUS_CANCELLED;
        return false;
    }
    const ULONG total = CappedMilliseconds(
        static_cast<ULONGLONG>(timeouts.WriteTotalTimeoutMultiplier) * writeLength +
        timeouts.WriteTotalTimeoutConstant);
    if (total != 0) PostEvent({PortEvent::kStartWriteTotalTimer, STATUS_SUCCESS, total});
    StartTransmit();
    return true;
}

// The flush event is cleared when the flush starts rather than when it is
// queued: a flush that ends while still queued (cancelled, cleaned up, purged,
// aborted) never reaches the drain that signals the event, and a close would
// wait for it for ever.
void SerialPort::StartFlush(PIRP irp) {
    KeClearEvent(&flushEvent);
    (void)InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&flushRequest), irp);
    WithPortLock([this] { DrainStep(kDrainFlushRequested); });
}

void SerialPort::DrainStep(UCHAR requestedState) {
    // While a close or flush drain runs, a transmit-toggle request neither
    // changes the state nor cuts the running drain short.
    if (requestedState == kDrainTransmitToggle && drainState >= kDrainCloseDraining) return;
    if (drainState < kDrainCloseDraining) drainState = requestedState;
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
            PostEvent({PortEvent::kStartDrainWait, STATUS_SUCCESS, busy + 10});
            break;
        case kDrainFlushRequested:
            drainState = kDrainFlushDraining;
            PostEvent({PortEvent::kStartDrainWait, STATUS_SUCCESS, busy + 10});
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

void SerialPort::PurgeTransmit(ULONG mask) {
    if ((mask & PURGE_TXABORT) == 0) return;  // no transmit buffer to clear
    PostEvent({PortEvent::kWriteEnds, STATUS_CANCELLED, 0});
    immediateCharPending = false;
    PostEvent({PortEvent::kImmediateCharEnds, STATUS_CANCELLED, 0});
}

NTSTATUS SerialPort::ImmediateCharRequest(PIRP irp) {
    // Read before the request is held: once held, a cancellation may complete it.
    const UCHAR character = *static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
    const ULONGLONG total = static_cast<ULONGLONG>(timeouts.WriteTotalTimeoutMultiplier) +
                            timeouts.WriteTotalTimeoutConstant;
    NTSTATUS status = STATUS_PENDING;
    WithPortLock([&] {
        status = immediateCharHolder.Hold(irp);
        if (status != STATUS_PENDING) return;
        // Without a time-out of its own, an earlier request's timer must not end it.
        if (total != 0) {
            TimerAt(TimerIndex::ImmediateChar).Set(-static_cast<LONGLONG>(total) * 10000);
        } else {
            TimerAt(TimerIndex::ImmediateChar).Cancel();
        }
        immediateChar = character;
        immediateCharPending = true;
        StartTransmit();
    });
    return status == STATUS_DEVICE_BUSY ? STATUS_INVALID_PARAMETER : status;
}

void ImmediateCharHolder::BeforeCancelComplete(PIRP, NTSTATUS, ULONG_PTR) {
    port_.immediateCharPending = false;
}

}  // namespace serial
