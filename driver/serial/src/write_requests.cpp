// Write requests and XOFF counters: the WRITE handler, the start-write routine
// of the write queue and the transmit side of a purge.
#include "framework/driver_globals.h"
#include "framework/irp_helpers.h"
#include "serial/serial_port.h"

namespace serial {

NTSTATUS SerialPort::DispatchWrite(PIRP irp) {
    if (const NTSTATUS refused = EntryRefusal(); !NT_SUCCESS(refused)) {
        return framework::Complete(irp, refused, 0);
    }
    const NTSTATUS status = PowerUp(KeGetCurrentIrql() == PASSIVE_LEVEL);
    if (!NT_SUCCESS(status)) return framework::Complete(irp, status, 0);
    OnWriteQueued();
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
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    irp->IoStatus.Information = 0;
    if (ErrorAbortInForce()) {
        irp->IoStatus.Status = STATUS_CANCELLED;
        return false;
    }
    if (stack->MajorFunction == IRP_MJ_DEVICE_CONTROL) {
        // An XOFF counter (its buffer and Counter are checked by the starter).
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
        if (writeLength == 0) {
            irp->IoStatus.Status = STATUS_SUCCESS;
            return false;
        }
        if (writeBuffer == nullptr) {
            // Nothing to read the bytes from: never read through a null buffer.
            writeLength = 0;
            irp->IoStatus.Status = STATUS_INVALID_USER_BUFFER;
            return false;
        }
    }

    (void)InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&currentWrite), irp);
    ArmCurrentCancel(irp, false);
    if (irp->Cancel) {
        if (IoSetCancelRoutine(irp, nullptr) == nullptr) return true;  // its cancel routine ends it
        (void)InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&currentWrite), nullptr);
        writeIsXoffCounter = false;
        xoffCharPending = false;
        irp->IoStatus.Status = STATUS_CANCELLED;
        return false;
    }

    const ULONGLONG total =
        static_cast<ULONGLONG>(timeouts.WriteTotalTimeoutMultiplier) * writeLength +
        timeouts.WriteTotalTimeoutConstant;
    if (total != 0) {
        PostEvent({PortEvent::kStartWriteTotalTimer, STATUS_SUCCESS,
                   total > MAXULONG ? MAXULONG : static_cast<ULONG>(total)});
    }
    StartTransmit();
    return true;
}

void SerialPort::PurgeTransmit(ULONG mask) {
    // PURGE_TXCLEAR has nothing to clear: the port keeps no transmit buffer.
    if ((mask & PURGE_TXABORT) == 0) return;
    immediateCharPending = false;
    (void)InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&immediateCharRequest),
                                     nullptr);
    PostEvent({PortEvent::kWriteEnds | PortEvent::kImmediateCharEnds, STATUS_CANCELLED, 0});
}

}  // namespace serial
