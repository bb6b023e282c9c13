#include "framework/reusable_work_item.h"

#include "framework/wait.h"

namespace framework {

ReusableWorkItem::ReusableWorkItem() {
    KeInitializeSpinLock(&lock_);
    KeInitializeEvent(&idle_, NotificationEvent, TRUE);
}

bool ReusableWorkItem::Allocate(PDEVICE_OBJECT deviceObject, Routine routine, PVOID context) {
    routine_ = routine;
    context_ = context;
    item_ = IoAllocateWorkItem(deviceObject);
    return item_ != nullptr;
}

void ReusableWorkItem::Queue() {
    if (item_ == nullptr || InterlockedExchange(&queued_, 1) != 0) return;
    KIRQL irql;
    KeAcquireSpinLock(&lock_, &irql);
    if (busy_++ == 0) KeClearEvent(&idle_);
    KeReleaseSpinLock(&lock_, irql);
    IoQueueWorkItem(item_, &ReusableWorkItem::Run, DelayedWorkQueue, this);
}

VOID ReusableWorkItem::Run(PDEVICE_OBJECT, PVOID context) {
    auto* self = static_cast<ReusableWorkItem*>(context);
    // Cleared before the routine runs, so work added from now on queues a new run.
    (void)InterlockedExchange(&self->queued_, 0);
    self->routine_(self->context_);
    KIRQL irql;
    KeAcquireSpinLock(&self->lock_, &irql);
    if (--self->busy_ == 0) (void)KeSetEvent(&self->idle_, IO_NO_INCREMENT, FALSE);
    KeReleaseSpinLock(&self->lock_, irql);
}

void ReusableWorkItem::Shutdown() {
    if (item_ == nullptr) return;
    // Taking the lock after the wait also waits until a run that signalled the
    // event has released the lock and no longer touches this object.
    for (;;) {
        (void)Wait(&idle_, 0);
        KIRQL irql;
        KeAcquireSpinLock(&lock_, &irql);
        const bool idle = busy_ == 0;
        KeReleaseSpinLock(&lock_, irql);
        if (idle) break;
    }
    IoFreeWorkItem(item_);
    item_ = nullptr;
}

}  // namespace framework
