// PostEvent: every change that ends or starts a request or a timer, turned into
// deferred actions.
#include "framework/driver_globals.h"
#include "serial/serial_port.h"

namespace serial {

namespace {

[[nodiscard]] bool IsErrorStatus(NTSTATUS status) {
    return (static_cast<ULONG>(status) >> 30) == 3;
}

[[nodiscard]] LONGLONG RelativeMilliseconds(ULONG milliseconds) {
    return -static_cast<LONGLONG>(milliseconds) * 10000;
}

}  // namespace

PIRP SerialPort::TakeCurrentRequest(PIRP* slot, NTSTATUS status, ULONG information, ULONG moved) {
    auto irp = static_cast<PIRP>(
        InterlockedExchangePointer(reinterpret_cast<PVOID volatile*>(slot), nullptr));
    if (irp == nullptr) return nullptr;
    (void)IoSetCancelRoutine(irp, nullptr);
    irp->IoStatus.Status = status;
    irp->IoStatus.Information = IsErrorStatus(status) ? information : moved;
    return irp;
}

void SerialPort::PostEvent(PortEvent event) {
    FilterEvent(event);
    ULONG flags = event.flags;
    NTSTATUS status = event.status;
    ULONG information = event.information;
    const ULONG interval = timeouts.ReadIntervalTimeout > framework::FiveTicksInMilliseconds
                               ? timeouts.ReadIntervalTimeout
                               : framework::FiveTicksInMilliseconds;
    const LONGLONG intervalDue = lastCharTime + static_cast<LONGLONG>(interval) * 10000;

    if ((flags & PortEvent::kReadEnds) != 0) {
        readIntervalState = ReadIntervalState::Idle;
        PostAction(PortAction::kCompleteRead,
                   TakeCurrentRequest(&currentRead, status, information, readCopied), 0);
    }
    if ((flags & PortEvent::kXoffCounterExpired) != 0 && currentWrite != nullptr &&
        writeIsXoffCounter) {
        flags |= PortEvent::kWriteEnds;
        status = STATUS_SERIAL_COUNTER_TIMEOUT;
        information = 0;
    }
    if ((flags & PortEvent::kWriteEnds) != 0) {
        // An XOFF counter is a control request without output: it reports no bytes.
        const ULONG moved = writeIsXoffCounter ? 0 : writeTaken;
        writeIsXoffCounter = false;
        xoffCharPending = false;
        PostAction(PortAction::kCompleteWrite,
                   TakeCurrentRequest(&currentWrite, status, information, moved), 0);
    }
    if ((flags & PortEvent::kWaitEnds) != 0) {
        if (PIRP irp = waitHolder.Take()) {
            irp->IoStatus.Status = status;
            irp->IoStatus.Information = information;
            if (NT_SUCCESS(status)) {
                // WAIT_ON_MASK requests are held only with room for the mask.
                *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer) = eventHistory;
                eventHistory = 0;
            }
            PostAction(PortAction::kCompleteWait, irp, 0);
        }
    }
    if ((flags & PortEvent::kStartIntervalTiming) != 0 &&
        readIntervalState == ReadIntervalState::Armed) {
        readIntervalState = ReadIntervalState::Running;
        PostAction(PortAction::kSetIntervalTimer, nullptr, intervalDue);
    }
    if ((flags & PortEvent::kIntervalExpired) != 0 &&
        readIntervalState == ReadIntervalState::Running) {
        LARGE_INTEGER now;
        KeQuerySystemTime(&now);
        // The timer expires at the first clock tick at or after the due time, so
        // reaching it counts: waiting for "later" would re-arm for ever.
        if (now.QuadPart >= intervalDue) {
            readIntervalState = ReadIntervalState::Idle;
            PostAction(PortAction::kEndInterval,
                       TakeCurrentRequest(&currentRead, status, information, readCopied), 0);
        } else {
            PostAction(PortAction::kEndInterval, nullptr, intervalDue);
        }
    }
    if ((flags & PortEvent::kImmediateCharEnds) != 0) {
        // A character whose request ended otherwise (time-out, purge) is not
        // sent after all.
        if (status != STATUS_SUCCESS) {
            immediateCharPending = false;
            (void)InterlockedExchangePointer(
                reinterpret_cast<PVOID volatile*>(&immediateCharRequest), nullptr);
        }
        if (PIRP irp = immediateCharHolder.Take()) {
            irp->IoStatus.Status = status;
            irp->IoStatus.Information = information;
            PostAction(PortAction::kCompleteImmediateChar, irp, 0);
        }
    }
    if ((flags & PortEvent::kStartXoffCounterTimer) != 0 && currentWrite != nullptr &&
        writeIsXoffCounter) {
        PostAction(PortAction::kSetXoffCounterTimer, nullptr,
                   RelativeMilliseconds(xoffTimeout != 0 ? xoffTimeout : 1));
    }
    if ((flags & PortEvent::kDrainExpired) != 0) DrainStep(drainState);
    if ((flags & PortEvent::kCloseDrained) != 0) {
        (void)ClearRts();
        (void)ClearDtr();
        PostAction(PortAction::kSignalClose, nullptr, 0);
    }
    if ((flags & PortEvent::kStartDrainWait) != 0) {
        // Ten bit times per character. A baud rate of 0 has no character time:
        // the drain then ends at the next clock tick.
        const LONGLONG due =
            baudRate != 0 ? -(static_cast<LONGLONG>(information) * 100000000) / baudRate : -1;
        PostAction(PortAction::kSetDrainTimer, nullptr, due != 0 ? due : -1);
    }
    if ((flags & PortEvent::kStartReadTotalTimer) != 0) {
        PostAction(PortAction::kSetReadTotalTimer, nullptr, RelativeMilliseconds(information));
    }
    if ((flags & PortEvent::kStartWriteTotalTimer) != 0) {
        PostAction(PortAction::kSetWriteTotalTimer, nullptr, RelativeMilliseconds(information));
    }
    if ((flags & PortEvent::kFlushDrained) != 0) {
        PostAction(PortAction::kCompleteFlush, nullptr, 0);
    }
    QueueActionRunner();
}

}  // namespace serial
