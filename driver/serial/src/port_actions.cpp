// The deferred actions of the port event engine: the record pool, the pending
// FIFO and the runner that carries them out at PASSIVE_LEVEL without the lock.
#include "serial/serial_port.h"

namespace serial {

namespace {

// The action types that come without a request, each with one reserve record.
constexpr ULONG kReserveTypes[] = {
    PortAction::kCompleteRead,  PortAction::kCompleteWrite,       PortAction::kSetIntervalTimer,
    PortAction::kEndInterval,   PortAction::kSetXoffCounterTimer, PortAction::kSignalClose,
    PortAction::kSetDrainTimer, PortAction::kSetReadTotalTimer,   PortAction::kSetWriteTotalTimer,
    PortAction::kCompleteFlush,
};

// DriverContext slot that carries the action type of a request on the overflow list.
constexpr int kOverflowTypeSlot = 3;

}  // namespace

// When all 32 records are taken, nothing is allocated and nothing is lost: a
// request travels on the overflow list in its own list entry, and an action
// without a request uses the reserve record of its type. If that one is still
// pending, the pending one stands for both (a timer takes the newer due time).
// Types of derived ports share one reserve record.
PortAction* SerialPort::AcquireAction(ULONG type, PIRP irp) {
    if (!IsListEmpty(&freeActions)) {
        return CONTAINING_RECORD(RemoveHeadList(&freeActions), PortAction, link);
    }
    if (irp != nullptr) return nullptr;
    for (ULONG index = 0; index < sizeof kReserveTypes / sizeof kReserveTypes[0]; ++index) {
        if (kReserveTypes[index] == type) return &reserveActions[index];
    }
    return &reserveActions[sizeof kReserveTypes / sizeof kReserveTypes[0]];  // other types
}

void SerialPort::ReleaseAction(PortAction* action) {
    // Under the action lock, in the same hold that took the record off the
    // pending list: a reserve record marked pending is always on that list.
    if (action >= actions && action < actions + kActionCount) {
        InsertTailList(&freeActions, &action->link);
    } else {
        action->pending = false;
    }
}

void SerialPort::PostAction(ULONG type, PIRP irp, LONGLONG dueTime) {
    KIRQL irql;
    KeAcquireSpinLock(&actionLock, &irql);
    PortAction* action = AcquireAction(type, irp);
    if (action == nullptr) {
        irp->Tail.Overlay.DriverContext[kOverflowTypeSlot] =
            reinterpret_cast<PVOID>(ULONG_PTR{type});
        InsertTailList(&overflowRequests, &irp->Tail.Overlay.ListEntry);
    } else if (action->pending) {
        if (dueTime != 0) action->dueTime = dueTime;
        action->sequence = actionSequence++;
    } else {
        action->type = type;
        action->irp = irp;
        action->dueTime = dueTime;
        action->sequence = actionSequence++;
        action->pending = !(action >= actions && action < actions + kActionCount);
        InsertTailList(&pendingActions, &action->link);
    }
    KeReleaseSpinLock(&actionLock, irql);
    QueueActionRunner();
}

void SerialPort::QueueActionRunner() {
    if (KeGetCurrentIrql() <= DISPATCH_LEVEL) {
        actionRunner.Queue();
    } else {
        (void)runnerDpc.Insert();
    }
}

void SerialPort::OnRunnerDpc(PVOID, PVOID) {
    actionRunner.Queue();
}

void SerialPort::ActionRunnerRoutine(PVOID context) {
    static_cast<SerialPort*>(context)->RunActions();
}

// Runners may overlap on several worker threads (completing a request can
// re-enter the driver and wait, e.g. a close that waits for its drain): each
// takes the next action in posting order, and timer actions carry their
// posting order so that a late one cannot undo a later Set or Cancel.
void SerialPort::RunActions() {
    for (;;) {
        PortAction work;
        KIRQL irql;
        KeAcquireSpinLock(&actionLock, &irql);
        if (!IsListEmpty(&pendingActions)) {
            auto* action = CONTAINING_RECORD(RemoveHeadList(&pendingActions), PortAction, link);
            // A copy, so that the record can be reused while the action runs.
            work = *action;
            ReleaseAction(action);
        } else if (!IsListEmpty(&overflowRequests)) {
            PIRP irp =
                CONTAINING_RECORD(RemoveHeadList(&overflowRequests), IRP, Tail.Overlay.ListEntry);
            // Requests of this engine's actions carry no due time.
            work.type = static_cast<ULONG>(
                reinterpret_cast<ULONG_PTR>(irp->Tail.Overlay.DriverContext[kOverflowTypeSlot]));
            work.irp = irp;
            work.sequence = actionSequence++;
        } else {
            KeReleaseSpinLock(&actionLock, irql);
            return;
        }
        const bool more = !IsListEmpty(&pendingActions) || !IsListEmpty(&overflowRequests);
        KeReleaseSpinLock(&actionLock, irql);
        // An action may wait (a completion that closes the port waits for its
        // drain): the ones behind it get a runner of their own.
        if (more) actionRunner.Queue();
        ExecuteAction(work);
    }
}

void SerialPort::CompleteAndRestart(PIRP irp, ULONG queue) {
    IoCompleteRequest(irp, IO_SERIAL_INCREMENT);
    (void)RequestGiveUp(queue);
}

void SerialPort::ExecuteAction(PortAction& action) {
    PIRP irp = action.irp;
    const LONGLONG due = action.dueTime != 0 ? action.dueTime : -1;
    switch (action.type) {
        case PortAction::kCompleteRead:
            TimerAt(TimerIndex::ReadTotal).Cancel(action.sequence);
            TimerAt(TimerIndex::ReadInterval).Cancel(action.sequence);
            if (irp != nullptr) CompleteAndRestart(irp, kReadQueue);
            break;
        case PortAction::kCompleteWrite:
            TimerAt(TimerIndex::WriteTotal).Cancel(action.sequence);
            TimerAt(TimerIndex::XoffCounter).Cancel(action.sequence);
            if (irp != nullptr) CompleteAndRestart(irp, kWriteQueue);
            break;
        case PortAction::kCompleteWait:
        case PortAction::kCompleteImmediateChar:
            if (irp != nullptr) IoCompleteRequest(irp, IO_SERIAL_INCREMENT);
            break;
        case PortAction::kSetIntervalTimer:
            TimerAt(TimerIndex::ReadInterval).Set(due, action.sequence);
            break;
        case PortAction::kEndInterval:
            if (irp != nullptr) {
                // Only an ended read gives up its total timer; a re-armed
                // interval leaves it running.
                TimerAt(TimerIndex::ReadTotal).Cancel(action.sequence);
                CompleteAndRestart(irp, kReadQueue);
            } else if (action.dueTime != 0) {
                TimerAt(TimerIndex::ReadInterval).Set(action.dueTime, action.sequence);
            }
            break;
        case PortAction::kSetXoffCounterTimer:
            TimerAt(TimerIndex::WriteTotal).Cancel(action.sequence);
            if (action.dueTime != 0)
                TimerAt(TimerIndex::XoffCounter).Set(action.dueTime, action.sequence);
            break;
        case PortAction::kSignalClose:
            (void)KeSetEvent(&closeEvent, IO_NO_INCREMENT, FALSE);
            break;
        case PortAction::kSetDrainTimer:
            TimerAt(TimerIndex::Drain).Set(due, action.sequence);
            break;
        case PortAction::kSetReadTotalTimer:
            TimerAt(TimerIndex::ReadTotal).Set(due, action.sequence);
            break;
        case PortAction::kSetWriteTotalTimer:
            TimerAt(TimerIndex::WriteTotal).Set(due, action.sequence);
            break;
        case PortAction::kCompleteFlush:
            if (auto flush = static_cast<PIRP>(InterlockedExchangePointer(
                    reinterpret_cast<PVOID volatile*>(&flushRequest), nullptr))) {
                flush->IoStatus.Status = STATUS_SUCCESS;
                flush->IoStatus.Information = 0;
                IoCompleteRequest(flush, IO_SERIAL_INCREMENT);
                (void)RequestGiveUp(kWriteQueue);
                (void)KeSetEvent(&flushEvent, IO_NO_INCREMENT, FALSE);
            }
            break;
        default:
            HandleOtherAction(action);
            break;
    }
}

}  // namespace serial
