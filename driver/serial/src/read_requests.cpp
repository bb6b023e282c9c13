// Read requests: the IRP_MJ_READ handler with its inline path, and the
// start-read routine that serves a read from the ring and sets its time-outs.
#include <algorithm>

#include "framework/irp_helpers.h"
#include "serial/serial_port.h"

namespace serial {

namespace {

// Reads with these time-outs return at once with whatever is buffered.
[[nodiscard]] bool ReturnsAtOnce(const SERIAL_TIMEOUTS& timeouts) {
    return timeouts.ReadIntervalTimeout == MAXULONG && timeouts.ReadTotalTimeoutMultiplier == 0 &&
           timeouts.ReadTotalTimeoutConstant == 0;
}

// Reads with these time-outs end with the first character, or after the constant.
[[nodiscard]] bool WaitsForFirstCharacter(const SERIAL_TIMEOUTS& timeouts) {
    return timeouts.ReadIntervalTimeout == MAXULONG &&
           timeouts.ReadTotalTimeoutMultiplier == MAXULONG &&
           timeouts.ReadTotalTimeoutConstant > 0 && timeouts.ReadTotalTimeoutConstant < MAXULONG;
}

[[nodiscard]] bool EndStartedRead(PIRP irp, NTSTATUS status, ULONG information) {
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = information;
    return false;
}

}  // namespace

NTSTATUS SerialPort::DispatchRead(PIRP irp) {
    irp->IoStatus.Information = 0;
    if (const NTSTATUS refused = EntryRefusal(); !NT_SUCCESS(refused)) {
        return framework::Complete(irp, refused, 0);
    }
    const NTSTATUS status = PowerUp(KeGetCurrentIrql() == PASSIVE_LEVEL);
    if (!NT_SUCCESS(status)) return framework::Complete(irp, status, 0);

    if (KeGetCurrentIrql() <= maxInlineIrql && State() == framework::PnpState::Started &&
        DevicePowerState() == PowerDeviceD0 && ReturnsAtOnce(timeouts) &&
        Queue(kReadQueue)->IsIdle()) {
        // The current read, and the time-outs again, under the lock: only then
        // is the start sure to end the read at once instead of keeping it.
        const bool served = WithPortLock([this, irp] {
                                if (!ReturnsAtOnce(timeouts) || currentRead != nullptr) {
                                    return false;
                                }
                                (void)StartRead(irp);
                                return true;
                            }) != 0;
        if (served) {
            const NTSTATUS result = irp->IoStatus.Status;
            IoCompleteRequest(irp, IO_SERIAL_INCREMENT);
            return result;
        }
    }
    IoMarkIrpPending(irp);
    Queue(kReadQueue)->QueueRequest(irp);
    return STATUS_PENDING;
}

bool SerialPort::StartRead(PIRP irp) {
    if (ErrorAbortInForce()) return EndStartedRead(irp, STATUS_CANCELLED, 0);
    readBuffer = static_cast<UCHAR*>(irp->AssociatedIrp.SystemBuffer);
    readLength = IoGetCurrentIrpStackLocation(irp)->Parameters.Read.Length;
    readCopied = 0;
    readIntervalState = ReadIntervalState::Idle;
    if (readBuffer == nullptr && readLength != 0) {
        // Buffered I/O always gives a system buffer; without one nothing is copied.
        readLength = 0;
        return EndStartedRead(irp, STATUS_INVALID_USER_BUFFER, 0);
    }

    const bool hadCharacters = rxCount > 0;
    // A zero-length read may come without a buffer: nothing is copied then.
    if (hadCharacters && readLength > 0) {
        ULONG chunk = std::min({rxCount, rxBufferSize - rxFirst, readLength});
        RtlCopyMemory(readBuffer, rxBuffer + rxFirst, chunk);
        rxFirst += chunk;
        rxCount -= chunk;
        readCopied = chunk;
        if (rxFirst == rxBufferSize) {
            rxFirst = 0;
            chunk = std::min(rxCount, readLength - readCopied);
            RtlCopyMemory(readBuffer + readCopied, rxBuffer, chunk);
            rxFirst = chunk;
            rxCount -= chunk;
            readCopied += chunk;
        }
        if (readCopied != 0) OnBufferRead();
    }
    if (hadCharacters) OnReceiveDrained();
    if (readCopied >= readLength) return EndStartedRead(irp, STATUS_SUCCESS, readCopied);

    ULONG multiplier = timeouts.ReadTotalTimeoutMultiplier;
    const ULONG constant = timeouts.ReadTotalTimeoutConstant;
    if (ReturnsAtOnce(timeouts)) return EndStartedRead(irp, STATUS_SUCCESS, readCopied);
    if (WaitsForFirstCharacter(timeouts)) {
        if (readCopied != 0) return EndStartedRead(irp, STATUS_SUCCESS, readCopied);
        readLength = 1;
        multiplier = 0;
    } else if (timeouts.ReadIntervalTimeout != 0) {
        readIntervalState = ReadIntervalState::Armed;
        if (readCopied != 0) {
            // The interval runs from now: lastCharTime is kept only while a read
            // times intervals, so it may be long past.
            LARGE_INTEGER now;
            KeQuerySystemTime(&now);
            lastCharTime = now.QuadPart;
            PostEvent({PortEvent::kStartIntervalTiming, STATUS_SUCCESS, 0});
        }
    }

    (void)InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&currentRead), irp);
    ArmCurrentCancel(irp, true);
    if (irp->Cancel) {
        if (IoSetCancelRoutine(irp, nullptr) == nullptr) return true;  // its cancel routine ends it
        readIntervalState = ReadIntervalState::Idle;
        (void)InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(&currentRead), nullptr);
        return EndStartedRead(irp, STATUS_CANCELLED, 0);
    }

    if (multiplier == 0 && constant == 0) return true;
    const ULONGLONG total = ULONGLONG{readLength - readCopied} * multiplier + constant;
    PostEvent({PortEvent::kStartReadTotalTimer, STATUS_SUCCESS,
               total > MAXULONG ? MAXULONG : static_cast<ULONG>(total)});
    return true;
}

}  // namespace serial
