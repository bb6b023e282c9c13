// Raised status exceptions, system work queue items and the interlocked lists.
#include "internal/dispatcher.h"
#include "internal/verifier.h"
#include "kernel/ex.h"

void ExRaiseStatus(NTSTATUS status) {
    throw kernel::StatusException(status);
}

void ExQueueWorkItem(PWORK_QUEUE_ITEM workItem, WORK_QUEUE_TYPE) {
    kernel::internal::RequireIrqlAtMost(DISPATCH_LEVEL, "ExQueueWorkItem");
    auto& dispatcher = kernel::internal::Dispatcher::Instance();
    kernel::internal::CurrentThread();
    std::lock_guard lock(dispatcher.mutex);
    dispatcher.QueueWork({[](void* argument) {
                              auto* item = static_cast<PWORK_QUEUE_ITEM>(argument);
                              item->WorkerRoutine(item->Parameter);
                          },
                          workItem, workItem});
}

namespace {

// The lists are guarded by the caller's spin lock. The platform's routines may
// be called at any IRQL: below DISPATCH_LEVEL the lock raises to it, above it the
// lock is taken at the current IRQL.
class ListLock {
  public:
    explicit ListLock(PKSPIN_LOCK lock)
        : lock_(lock), raised_(KeGetCurrentIrql() < DISPATCH_LEVEL) {
        if (raised_) {
            old_ = KfAcquireSpinLock(lock);
        } else {
            KefAcquireSpinLockAtDpcLevel(lock);
        }
    }
    ~ListLock() {
        if (raised_) {
            KfReleaseSpinLock(lock_, old_);
        } else {
            KefReleaseSpinLockFromDpcLevel(lock_);
        }
    }
    ListLock(const ListLock&) = delete;
    ListLock& operator=(const ListLock&) = delete;

  private:
    PKSPIN_LOCK lock_;
    bool raised_;
    KIRQL old_ = PASSIVE_LEVEL;
};

}  // namespace

PLIST_ENTRY ExInterlockedInsertHeadList(PLIST_ENTRY listHead, PLIST_ENTRY listEntry,
                                        PKSPIN_LOCK lock) {
    ListLock guard(lock);
    PLIST_ENTRY first = IsListEmpty(listHead) ? nullptr : listHead->Flink;
    InsertHeadList(listHead, listEntry);
    return first;
}

PLIST_ENTRY ExInterlockedInsertTailList(PLIST_ENTRY listHead, PLIST_ENTRY listEntry,
                                        PKSPIN_LOCK lock) {
    ListLock guard(lock);
    PLIST_ENTRY first = IsListEmpty(listHead) ? nullptr : listHead->Flink;
    InsertTailList(listHead, listEntry);
    return first;
}

PLIST_ENTRY ExInterlockedRemoveHeadList(PLIST_ENTRY listHead, PKSPIN_LOCK lock) {
    ListLock guard(lock);
    if (IsListEmpty(listHead)) return nullptr;
    return RemoveHeadList(listHead);
}

PSINGLE_LIST_ENTRY ExInterlockedPushEntryList(PSINGLE_LIST_ENTRY listHead,
                                              PSINGLE_LIST_ENTRY listEntry, PKSPIN_LOCK lock) {
    ListLock guard(lock);
    PSINGLE_LIST_ENTRY first = listHead->Next;
    PushEntryList(listHead, listEntry);
    return first;
}

PSINGLE_LIST_ENTRY ExInterlockedPopEntryList(PSINGLE_LIST_ENTRY listHead, PKSPIN_LOCK lock) {
    ListLock guard(lock);
    return PopEntryList(listHead);
}
