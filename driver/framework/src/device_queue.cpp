#include "framework/device_queue.h"

#include "framework/device_object_base.h"
#include "framework/irp_helpers.h"
#include "framework/pool.h"
#include "framework/wait.h"

namespace framework {
namespace {

PIRP IrpFromListEntry(PLIST_ENTRY entry) {
    return CONTAINING_RECORD(entry, IRP, Tail.Overlay.ListEntry);
}

// Whoever takes the cancel routine back owns the request; a NULL answer means
// the I/O manager is cancelling it and the cancel routine will complete it.
bool TakeBackFromCancel(PIRP irp) {
    return IoSetCancelRoutine(irp, nullptr) != nullptr;
}

}  // namespace

DeviceQueue::DeviceQueue(DeviceObjectBase* owner, StartRoutine start, StartPolicy policy)
    : owner_(owner), start_(start), policy_(policy) {
    InitializeListHead(&waiting_);
    KeInitializeSpinLock(&lock_);
    KeInitializeEvent(&idleEvent_, NotificationEvent, FALSE);
    KeInitializeEvent(&drained_, NotificationEvent, FALSE);
    if (policy_ == StartPolicy::Passive) {
        // One item is enough: the next start needs the current request given up,
        // which its owner does only once its start routine has been called.
        startWorkItem_ = IoAllocateWorkItem(owner_->DeviceObject());
        if (startWorkItem_ == nullptr) ExRaiseStatus(STATUS_INSUFFICIENT_RESOURCES);
    }
}

DeviceQueue::~DeviceQueue() {
    // Requests still waiting would be lost with the queue.
    Cleanup(nullptr, STATUS_DELETE_PENDING);
    Lock();
    draining_ = true;
    const bool busy = armed_ != 0;
    Unlock();
    // The last cancel routine sets the event as its final touch of the queue.
    if (busy && KeGetCurrentIrql() == PASSIVE_LEVEL) (void)Wait(&drained_, 0);
    if (startWorkItem_ != nullptr) IoFreeWorkItem(startWorkItem_);
}

void* DeviceQueue::operator new(std::size_t size) {
    return PoolAllocateRaising(size);
}

void DeviceQueue::operator delete(void* block) {
    PoolFree(block);
}

void DeviceQueue::Lock() {
    const KIRQL previous = KfAcquireSpinLock(&lock_);
    savedIrql_ = previous;
}

void DeviceQueue::Unlock() {
    KfReleaseSpinLock(&lock_, savedIrql_);
}

void DeviceQueue::QueueRequest(PIRP irp) {
    Lock();
    if (abortStatus_ != STATUS_SUCCESS) {
        const NTSTATUS status = abortStatus_;
        Unlock();
        (void)Complete(irp, status, 0);
        return;
    }
    if (currentIrp_ == nullptr && stallCount_.load() == 0) {
        StartRequest(irp);
        return;
    }
    irp->Tail.Overlay.DriverContext[0] = this;
    (void)IoSetCancelRoutine(irp, &DeviceQueue::CancelWaiting);
    if (irp->Cancel && TakeBackFromCancel(irp)) {
        Unlock();
        (void)Complete(irp, STATUS_CANCELLED, 0);
        return;
    }
    // When the cancel routine is already running it waits for the lock and
    // then takes the request off the list again.
    InsertTailList(&waiting_, &irp->Tail.Overlay.ListEntry);
    ++armed_;
    Unlock();
}

void DeviceQueue::StartRequest(PIRP irp) {
    currentIrp_ = irp;
    irp->Tail.Overlay.DriverContext[1] =
        reinterpret_cast<PVOID>(static_cast<ULONG_PTR>(++startCounter_));
    const KIRQL saved = savedIrql_;
    if (policy_ == StartPolicy::Dpc) {
        KefReleaseSpinLockFromDpcLevel(&lock_);
        RunStartRoutine(irp);
        KfLowerIrql(saved);
        return;
    }
    Unlock();
    if (KeGetCurrentIrql() > PASSIVE_LEVEL) {
        IoQueueWorkItem(startWorkItem_, &DeviceQueue::PassiveStart, DelayedWorkQueue, this);
    } else {
        RunStartRoutine(irp);
    }
}

void DeviceQueue::RunStartRoutine(PIRP irp) {
    DeviceObjectBase* owner = owner_;
    const StartRoutine start = start_;
    (owner->*start)(irp);
}

VOID DeviceQueue::PassiveStart(PDEVICE_OBJECT, PVOID context) {
    auto* queue = static_cast<DeviceQueue*>(context);
    queue->Lock();
    PIRP irp = queue->currentIrp_;
    queue->Unlock();
    if (irp != nullptr) queue->RunStartRoutine(irp);
}

bool DeviceQueue::StartNextWaiting() {
    while (stallCount_.load() == 0 && abortStatus_ == STATUS_SUCCESS && currentIrp_ == nullptr &&
           !IsListEmpty(&waiting_)) {
        PLIST_ENTRY entry = RemoveHeadList(&waiting_);
        PIRP irp = IrpFromListEntry(entry);
        if (TakeBackFromCancel(irp)) {
            --armed_;
            StartRequest(irp);
            return true;
        }
        // Being cancelled: the cancel routine's unlinking must find nothing to do.
        InitializeListHead(entry);
    }
    return false;
}

void DeviceQueue::GiveUpCurrent() {
    Lock();
    if (currentIrp_ != nullptr) {
        currentIrp_ = nullptr;
        (void)KeSetEvent(&idleEvent_, IO_NO_INCREMENT, FALSE);
    }
    const IdleNotification notification = idleNotification_;
    const PVOID context = idleContext_;
    idleNotification_ = nullptr;
    idleContext_ = nullptr;
    if (!StartNextWaiting()) Unlock();
    // Called whether or not a next request started, so that it is never lost.
    if (notification != nullptr) notification(context);
}

void DeviceQueue::Stall() {
    ++stallCount_;
}

void DeviceQueue::Unstall() {
    Lock();
    // The count never goes below 0. An unstall that no stall preceded (a start
    // after a stop that came without a query-stop) would otherwise leave it
    // negative, and a queue starts requests only at exactly 0.
    LONG count = stallCount_.load();
    while (count > 0 && !stallCount_.compare_exchange_weak(count, count - 1)) {
    }
    if (!StartNextWaiting()) Unlock();
}

void DeviceQueue::WaitIdle() {
    KeClearEvent(&idleEvent_);
    Lock();
    const bool busy = currentIrp_ != nullptr;
    Unlock();
    if (busy) (void)Wait(&idleEvent_, 0);
}

void DeviceQueue::Abort(NTSTATUS status) {
    Lock();
    abortStatus_ = status;
    Unlock();
    Cleanup(nullptr, status);
}

void DeviceQueue::ClearAbort() {
    Lock();
    abortStatus_ = STATUS_SUCCESS;
    Unlock();
}

void DeviceQueue::Cleanup(PFILE_OBJECT fileObject, NTSTATUS status) {
    LIST_ENTRY taken;
    InitializeListHead(&taken);
    Lock();
    for (PLIST_ENTRY entry = waiting_.Flink; entry != &waiting_;) {
        PLIST_ENTRY next = entry->Flink;
        PIRP irp = IrpFromListEntry(entry);
        const bool matches =
            fileObject == nullptr || IoGetCurrentIrpStackLocation(irp)->FileObject == fileObject;
        if (matches && TakeBackFromCancel(irp)) {
            --armed_;
            RemoveEntryList(entry);
            InsertTailList(&taken, entry);
        }
        entry = next;
    }
    Unlock();
    while (!IsListEmpty(&taken))
        (void)Complete(IrpFromListEntry(RemoveHeadList(&taken)), status, 0);
}

bool DeviceQueue::IsIdle() {
    Lock();
    const bool idle = currentIrp_ == nullptr;
    Unlock();
    return idle;
}

bool DeviceQueue::HasWaiting() {
    Lock();
    const bool waiting = !IsListEmpty(&waiting_);
    Unlock();
    return waiting;
}

PIRP DeviceQueue::CurrentIrp() {
    Lock();
    PIRP irp = currentIrp_;
    Unlock();
    return irp;
}

void DeviceQueue::SetIdleNotification(IdleNotification notification, PVOID context) {
    idleNotification_ = notification;
    idleContext_ = context;
}

VOID DeviceQueue::CancelWaiting(PDEVICE_OBJECT, PIRP irp) {
    IoReleaseCancelSpinLock(DISPATCH_LEVEL);
    auto* queue = static_cast<DeviceQueue*>(irp->Tail.Overlay.DriverContext[0]);
    KefAcquireSpinLockAtDpcLevel(&queue->lock_);
    RemoveEntryList(&irp->Tail.Overlay.ListEntry);
    const bool drained = queue->DropArmedLocked();
    KefReleaseSpinLockFromDpcLevel(&queue->lock_);
    // After this the queue may be gone.
    if (drained) (void)KeSetEvent(&queue->drained_, IO_NO_INCREMENT, FALSE);
    KfLowerIrql(irp->CancelIrql);
    (void)Complete(irp, STATUS_CANCELLED, 0);
}

}  // namespace framework
