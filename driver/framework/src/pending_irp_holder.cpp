#include "framework/pending_irp_holder.h"

#include "framework/irp_helpers.h"
#include "framework/pool.h"
#include "framework/wait.h"

namespace framework {
namespace {

LIST_ENTRY holderList{&holderList, &holderList};
KSPIN_LOCK holderListLock = 0;

PendingIrpHolder* HolderOf(PIRP irp) {
    return static_cast<PendingIrpHolder*>(irp->Tail.Overlay.DriverContext[0]);
}

}  // namespace

void InitializeHolderList() {
    InitializeListHead(&holderList);
    KeInitializeSpinLock(&holderListLock);
}

PendingIrpHolder::PendingIrpHolder() {
    KeInitializeEvent(&drained_, NotificationEvent, FALSE);
    link_.holder = this;
    ExInterlockedInsertTailList(&holderList, &link_.links, &holderListLock);
}

PendingIrpHolder::~PendingIrpHolder() {
    Close();
    const KIRQL previous = KfAcquireSpinLock(&holderListLock);
    RemoveEntryList(&link_.links);
    KfReleaseSpinLock(&holderListLock, previous);
}

void PendingIrpHolder::Close() {
    lock_.Acquire();
    closed_ = 1;
    lock_.Release();
    if (PIRP irp = Take()) (void)Complete(irp, STATUS_CANCELLED, 0);
    lock_.Acquire();
    draining_ = true;
    const bool busy = armed_ != 0;
    lock_.Release();
    // The last cancellation to finish sets the event as its final touch of the
    // holder. Destruction happens at PASSIVE_LEVEL, the only level that can wait.
    if (busy && KeGetCurrentIrql() == PASSIVE_LEVEL) (void)Wait(&drained_, 0);
}

bool PendingIrpHolder::DropArmedLocked() {
    return --armed_ == 0 && draining_;
}

void* PendingIrpHolder::operator new(std::size_t size) {
    return PoolAllocateRaising(size);
}

void PendingIrpHolder::operator delete(void* block) {
    PoolFree(block);
}

NTSTATUS PendingIrpHolder::Hold(PIRP irp) {
    lock_.Acquire();
    NTSTATUS status = STATUS_PENDING;
    if (heldIrp_ != nullptr) {
        status = STATUS_DEVICE_BUSY;
    } else if (closed_ != 0) {
        status = STATUS_DEVICE_REMOVED;
    } else {
        irp->Tail.Overlay.DriverContext[0] = this;
        (void)IoSetCancelRoutine(irp, &PendingIrpHolder::CancelHeld);
        if (irp->Cancel && IoSetCancelRoutine(irp, nullptr) != nullptr) {
            status = STATUS_CANCELLED;
        } else {
            // A cancel routine already running waits for the lock, then finds
            // the request held and forgets it before completing it.
            IoMarkIrpPending(irp);
            heldIrp_ = irp;
            ++armed_;
        }
    }
    lock_.Release();
    return status;
}

PIRP PendingIrpHolder::Take() {
    lock_.Acquire();
    PIRP irp = heldIrp_;
    heldIrp_ = nullptr;
    bool drained = false;
    if (irp != nullptr) {
        if (IoSetCancelRoutine(irp, nullptr) != nullptr) {
            drained = DropArmedLocked();
        } else {
            irp = nullptr;  // its cancellation drops it
        }
    }
    lock_.Release();
    if (drained) (void)KeSetEvent(&drained_, IO_NO_INCREMENT, FALSE);
    return irp;
}

bool PendingIrpHolder::IsClosed() {
    lock_.Acquire();
    const bool closed = closed_ != 0;
    lock_.Release();
    return closed;
}

void PendingIrpHolder::CompleteCancelled(PIRP irp) {
    PendingIrpHolder* holder = HolderOf(irp);
    irp->IoStatus.Status = STATUS_CANCELLED;
    irp->IoStatus.Information = 0;
    holder->BeforeCancelComplete(irp, STATUS_CANCELLED, 0);
    IofCompleteRequest(irp, IO_NO_INCREMENT);
    holder->AfterCancelComplete(irp, STATUS_CANCELLED, 0);
    holder->lock_.Acquire();
    const bool drained = holder->DropArmedLocked();
    holder->lock_.Release();
    // After this the holder may be gone.
    if (drained) (void)KeSetEvent(&holder->drained_, IO_NO_INCREMENT, FALSE);
}

VOID PendingIrpHolder::CancelHeld(PDEVICE_OBJECT, PIRP irp) {
    IoReleaseCancelSpinLock(irp->CancelIrql);
    PendingIrpHolder* holder = HolderOf(irp);
    holder->lock_.Acquire();
    if (holder->heldIrp_ == irp) holder->heldIrp_ = nullptr;
    holder->lock_.Release();
    CompleteCancelled(irp);
}

void PendingIrpHolder::CancelMatching(PFILE_OBJECT fileObject, PDEVICE_OBJECT deviceObject,
                                      bool byDevice, bool close) {
    LIST_ENTRY collected;
    InitializeListHead(&collected);
    const KIRQL previous = KfAcquireSpinLock(&holderListLock);
    for (PLIST_ENTRY links = holderList.Flink; links != &holderList; links = links->Flink) {
        PendingIrpHolder* holder = CONTAINING_RECORD(links, ListLink, links)->holder;
        holder->lock_.Acquire();
        PIRP irp = holder->heldIrp_;
        if (irp != nullptr) {
            PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
            const bool matches =
                byDevice ? deviceObject == nullptr || stack->DeviceObject == deviceObject
                         : stack->FileObject == fileObject;
            if (matches) {
                holder->heldIrp_ = nullptr;
                if (byDevice) holder->closed_ = close ? 1 : 0;
                if (IoSetCancelRoutine(irp, nullptr) != nullptr) {
                    InsertTailList(&collected, &irp->Tail.Overlay.ListEntry);
                }
            }
        }
        holder->lock_.Release();
    }
    KfReleaseSpinLock(&holderListLock, previous);
    while (!IsListEmpty(&collected)) {
        CompleteCancelled(
            CONTAINING_RECORD(RemoveHeadList(&collected), IRP, Tail.Overlay.ListEntry));
    }
}

void CancelHeldForFile(PFILE_OBJECT fileObject) {
    PendingIrpHolder::CancelMatching(fileObject, nullptr, false, false);
}

void CancelHeldForDevice(PDEVICE_OBJECT deviceObject, bool close) {
    PendingIrpHolder::CancelMatching(nullptr, deviceObject, true, close);
}

void DestroyHolderList(PVOID) {
    for (;;) {
        const KIRQL previous = KfAcquireSpinLock(&holderListLock);
        PendingIrpHolder* holder =
            IsListEmpty(&holderList)
                ? nullptr
                : CONTAINING_RECORD(holderList.Flink, PendingIrpHolder::ListLink, links)->holder;
        KfReleaseSpinLock(&holderListLock, previous);
        if (holder == nullptr) return;
        delete holder;  // unlinks itself
    }
}

}  // namespace framework
