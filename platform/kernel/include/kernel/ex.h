// Executive services: tagged pool, raised status exceptions, fast mutexes,
// system work queue items and the interlocked (spin-lock guarded) lists.
// A fake: pool is accounted per tag and checked by the verifier at test end.
#pragma once

#include "kernel/ke.h"

// ---- Pool -----------------------------------------------------------------------

enum POOL_TYPE {
    NonPagedPool = 0,
    PagedPool = 1,
    NonPagedPoolMustSucceed = 2,
    NonPagedPoolCacheAligned = 4,
    PagedPoolCacheAligned = 5,
    // Or-ed into a type: raise STATUS_INSUFFICIENT_RESOURCES instead of returning NULL.
    POOL_RAISE_IF_ALLOCATION_FAILURE = 16,
};
inline POOL_TYPE operator|(POOL_TYPE a, POOL_TYPE b) {
    return static_cast<POOL_TYPE>(static_cast<int>(a) | static_cast<int>(b));
}

// NULL on failure unless POOL_RAISE_IF_ALLOCATION_FAILURE is set. Paged pool needs
// IRQL <= APC_LEVEL.
[[nodiscard]] PVOID ExAllocatePoolWithTag(POOL_TYPE poolType, SIZE_T numberOfBytes, ULONG tag);
[[nodiscard]] PVOID ExAllocatePool(POOL_TYPE poolType, SIZE_T numberOfBytes);
// The tag must be the allocation's; NULL or a block not from pool is a bug check.
void ExFreePoolWithTag(PVOID p, ULONG tag);
void ExFreePool(PVOID p);

// ---- Raised status --------------------------------------------------------------

namespace kernel {
// What ExRaiseStatus throws. Structured exception handling is written on this
// platform as `try { ... } catch (const kernel::StatusException& e) { e.Status() }`.
class StatusException {
  public:
    explicit StatusException(NTSTATUS status) : status_(status) {}
    [[nodiscard]] NTSTATUS Status() const { return status_; }

  private:
    NTSTATUS status_;
};
}  // namespace kernel

[[noreturn]] void ExRaiseStatus(NTSTATUS status);

// ---- Fast mutexes ---------------------------------------------------------------

struct FAST_MUTEX {
    LONG Count;  // 1 = free
    PKTHREAD Owner;
    ULONG Contention;
    KEVENT Event;
    ULONG OldIrql;
};
using PFAST_MUTEX = FAST_MUTEX*;

void ExInitializeFastMutex(PFAST_MUTEX fastMutex);
// Raise to APC_LEVEL and take the mutex; release restores the IRQL.
void ExAcquireFastMutex(PFAST_MUTEX fastMutex);
void ExReleaseFastMutex(PFAST_MUTEX fastMutex);
[[nodiscard]] BOOLEAN ExTryToAcquireFastMutex(PFAST_MUTEX fastMutex);
// Inside a critical region (or at APC_LEVEL); the IRQL is left unchanged.
void ExAcquireFastMutexUnsafe(PFAST_MUTEX fastMutex);
void ExReleaseFastMutexUnsafe(PFAST_MUTEX fastMutex);

// ---- System work queue items ----------------------------------------------------

enum WORK_QUEUE_TYPE { CriticalWorkQueue = 0, DelayedWorkQueue = 1, HyperCriticalWorkQueue = 2 };

using PWORKER_THREAD_ROUTINE = VOID (*)(PVOID parameter);

struct WORK_QUEUE_ITEM {
    LIST_ENTRY List;
    PWORKER_THREAD_ROUTINE WorkerRoutine;
    PVOID Parameter;
};
using PWORK_QUEUE_ITEM = WORK_QUEUE_ITEM*;

inline void ExInitializeWorkItem(PWORK_QUEUE_ITEM item, PWORKER_THREAD_ROUTINE routine,
                                 PVOID parameter) {
    item->WorkerRoutine = routine;
    item->Parameter = parameter;
    item->List.Flink = nullptr;
}
// Runs the item's routine at PASSIVE_LEVEL in a system worker thread.
void ExQueueWorkItem(PWORK_QUEUE_ITEM workItem, WORK_QUEUE_TYPE queueType);

// ---- Interlocked lists ----------------------------------------------------------

// Each returns the former first entry of the list (NULL when it was empty).
PLIST_ENTRY ExInterlockedInsertHeadList(PLIST_ENTRY listHead, PLIST_ENTRY listEntry,
                                        PKSPIN_LOCK lock);
PLIST_ENTRY ExInterlockedInsertTailList(PLIST_ENTRY listHead, PLIST_ENTRY listEntry,
                                        PKSPIN_LOCK lock);
PLIST_ENTRY ExInterlockedRemoveHeadList(PLIST_ENTRY listHead, PKSPIN_LOCK lock);
PSINGLE_LIST_ENTRY ExInterlockedPushEntryList(PSINGLE_LIST_ENTRY listHead,
                                              PSINGLE_LIST_ENTRY listEntry, PKSPIN_LOCK lock);
PSINGLE_LIST_ENTRY ExInterlockedPopEntryList(PSINGLE_LIST_ENTRY listHead, PKSPIN_LOCK lock);
