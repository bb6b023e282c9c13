// Kernel core: IRQL, spin locks, dispatcher objects (events, timers), DPCs, waits,
// threads, the system clock and the interlocked primitives.
// A fake: every routine behaves as documented on real threads of the simulation;
// the clock is virtual (see sim/clock.h). Binary layouts are our own.
#pragma once

#include "kernel/ntstatus.h"
#include "kernel/types.h"

// ---- Processor mode, wait reasons, object types --------------------------------

using KPROCESSOR_MODE = CCHAR;
constexpr KPROCESSOR_MODE KernelMode = 0;
constexpr KPROCESSOR_MODE UserMode = 1;

enum KWAIT_REASON {
    Executive = 0,
    FreePage,
    PageIn,
    PoolAllocation,
    DelayExecution,
    Suspended,
    UserRequest,
};

enum EVENT_TYPE { NotificationEvent = 0, SynchronizationEvent = 1 };
enum TIMER_TYPE { NotificationTimer = 0, SynchronizationTimer = 1 };

// Priority increments passed to KeSetEvent and IoCompleteRequest.
constexpr KPRIORITY IO_NO_INCREMENT = 0;
constexpr KPRIORITY EVENT_INCREMENT = 1;
constexpr KPRIORITY IO_SERIAL_INCREMENT = 2;
constexpr KPRIORITY IO_KEYBOARD_INCREMENT = 6;

// Interrupt levels above DISPATCH_LEVEL that drivers name.
constexpr KIRQL CLOCK_LEVEL = 28;
constexpr KIRQL PROFILE_LEVEL = 27;

// ---- Threads --------------------------------------------------------------------

// Opaque: one per simulated thread (system worker, DPC processor or application).
struct KTHREAD;
using PKTHREAD = KTHREAD*;
using PRKTHREAD = KTHREAD*;
struct ETHREAD;
using PETHREAD = ETHREAD*;

[[nodiscard]] PKTHREAD KeGetCurrentThread();
[[nodiscard]] PETHREAD PsGetCurrentThread();
// Critical regions disable normal kernel APCs; the simulation counts nesting so
// that the verifier can check that a work item leaves its region.
void KeEnterCriticalRegion();
void KeLeaveCriticalRegion();
[[nodiscard]] ULONG KeGetCurrentProcessorNumber();
[[nodiscard]] ULONG KeQueryActiveProcessorCount(PVOID activeProcessors);

// ---- IRQL -----------------------------------------------------------------------

[[nodiscard]] KIRQL KeGetCurrentIrql();
[[nodiscard]] KIRQL KfRaiseIrql(KIRQL newIrql);
void KfLowerIrql(KIRQL newIrql);
inline void KeRaiseIrql(KIRQL newIrql, PKIRQL oldIrql) {
    *oldIrql = KfRaiseIrql(newIrql);
}
inline void KeLowerIrql(KIRQL newIrql) {
    KfLowerIrql(newIrql);
}
[[nodiscard]] KIRQL KeRaiseIrqlToDpcLevel();

// ---- Spin locks -----------------------------------------------------------------

using KSPIN_LOCK = ULONG_PTR;
using PKSPIN_LOCK = KSPIN_LOCK*;

void KeInitializeSpinLock(PKSPIN_LOCK spinLock);
// Raises to DISPATCH_LEVEL and takes the lock; returns the previous IRQL.
[[nodiscard]] KIRQL KfAcquireSpinLock(PKSPIN_LOCK spinLock);
void KfReleaseSpinLock(PKSPIN_LOCK spinLock, KIRQL newIrql);
// Take and release without changing IRQL; the caller runs at DISPATCH_LEVEL or above.
void KefAcquireSpinLockAtDpcLevel(PKSPIN_LOCK spinLock);
void KefReleaseSpinLockFromDpcLevel(PKSPIN_LOCK spinLock);
inline void KeAcquireSpinLock(PKSPIN_LOCK spinLock, PKIRQL oldIrql) {
    *oldIrql = KfAcquireSpinLock(spinLock);
}
inline void KeReleaseSpinLock(PKSPIN_LOCK spinLock, KIRQL newIrql) {
    KfReleaseSpinLock(spinLock, newIrql);
}
inline void KeAcquireSpinLockAtDpcLevel(PKSPIN_LOCK spinLock) {
    KefAcquireSpinLockAtDpcLevel(spinLock);
}
inline void KeReleaseSpinLockFromDpcLevel(PKSPIN_LOCK spinLock) {
    KefReleaseSpinLockFromDpcLevel(spinLock);
}
[[nodiscard]] BOOLEAN KeTryToAcquireSpinLockAtDpcLevel(PKSPIN_LOCK spinLock);

// ---- Dispatcher objects ---------------------------------------------------------

struct DISPATCHER_HEADER {
    UCHAR Type;
    UCHAR Absolute;
    UCHAR Size;
    UCHAR Inserted;
    LONG SignalState;  // guarded by the dispatcher; read with KeReadStateEvent
    LIST_ENTRY WaitListHead;
};

struct KEVENT {
    DISPATCHER_HEADER Header;
};
using PKEVENT = KEVENT*;
using PRKEVENT = KEVENT*;

void KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state);
// Returns the previous signal state.
LONG KeSetEvent(PRKEVENT event, KPRIORITY increment, BOOLEAN wait);
void KeClearEvent(PRKEVENT event);
LONG KeResetEvent(PRKEVENT event);
[[nodiscard]] LONG KeReadStateEvent(PRKEVENT event);

// ---- DPCs -----------------------------------------------------------------------

struct KDPC;
using PKDPC = KDPC*;
using PRKDPC = KDPC*;
using PKDEFERRED_ROUTINE = VOID (*)(PKDPC dpc, PVOID deferredContext, PVOID systemArgument1,
                                    PVOID systemArgument2);

enum KDPC_IMPORTANCE { LowImportance = 0, MediumImportance = 1, HighImportance = 2 };

struct KDPC {
    UCHAR Type;
    UCHAR Importance;
    USHORT Number;  // target processor + 1, or 0 for "the current one"
    LIST_ENTRY DpcListEntry;
    PKDEFERRED_ROUTINE DeferredRoutine;
    PVOID DeferredContext;
    PVOID SystemArgument1;
    PVOID SystemArgument2;
    PVOID DpcData;  // non-NULL while queued; owned by the dispatcher
};

void KeInitializeDpc(PRKDPC dpc, PKDEFERRED_ROUTINE deferredRoutine, PVOID deferredContext);
// FALSE when the DPC is already queued.
BOOLEAN KeInsertQueueDpc(PRKDPC dpc, PVOID systemArgument1, PVOID systemArgument2);
// TRUE when the DPC was queued and has been taken off its queue.
BOOLEAN KeRemoveQueueDpc(PRKDPC dpc);
void KeSetImportanceDpc(PRKDPC dpc, KDPC_IMPORTANCE importance);
void KeSetTargetProcessorDpc(PRKDPC dpc, CCHAR number);
// Waits until every DPC queued before the call has run.
void KeFlushQueuedDpcs();

// ---- Timers ---------------------------------------------------------------------

struct KTIMER {
    DISPATCHER_HEADER Header;
    ULARGE_INTEGER DueTime;  // absolute interrupt time of the next expiry
    LIST_ENTRY TimerListEntry;
    PKDPC Dpc;
    LONG Period;  // milliseconds, 0 for a one-shot timer
};
using PKTIMER = KTIMER*;

void KeInitializeTimer(PKTIMER timer);
void KeInitializeTimerEx(PKTIMER timer, TIMER_TYPE type);
// Negative dueTime: relative, in 100-ns units; positive: absolute system time.
// Returns TRUE when the timer was already set (it is set anew).
BOOLEAN KeSetTimer(PKTIMER timer, LARGE_INTEGER dueTime, PKDPC dpc);
BOOLEAN KeSetTimerEx(PKTIMER timer, LARGE_INTEGER dueTime, LONG period, PKDPC dpc);
// TRUE when the timer was set. Cancelling also takes back a DPC that this timer's
// expiry queued and that has not started yet; the call then returns TRUE too, as
// the expiry is undone completely.
BOOLEAN KeCancelTimer(PKTIMER timer);
[[nodiscard]] BOOLEAN KeReadStateTimer(PKTIMER timer);

// ---- Waits ----------------------------------------------------------------------

// Object: a KEVENT or KTIMER (a FAST_MUTEX waits on its embedded event).
// timeout: NULL waits without limit; negative relative, positive absolute, in 100-ns.
// Returns STATUS_SUCCESS (STATUS_WAIT_0) or STATUS_TIMEOUT.
NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON waitReason, KPROCESSOR_MODE waitMode,
                               BOOLEAN alertable, PLARGE_INTEGER timeout);
NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE waitMode, BOOLEAN alertable,
                                PLARGE_INTEGER interval);

// ---- Time -----------------------------------------------------------------------

// The system time of the latest clock tick, 100-ns units since 1601-01-01.
void KeQuerySystemTime(PLARGE_INTEGER currentTime);
// Clock ticks since boot.
void KeQueryTickCount(PLARGE_INTEGER tickCount);
// Interrupt time (100-ns units since boot) of the latest clock tick.
[[nodiscard]] ULONGLONG KeQueryInterruptTime();
// 100-ns units per clock tick (156250 by default).
[[nodiscard]] ULONG KeQueryTimeIncrement();
// Busy-waits `microSeconds` of virtual time: the simulation does not move the
// clock, so this only returns.
void KeStallExecutionProcessor(ULONG microSeconds);

// ---- Interlocked operations -----------------------------------------------------

inline LONG InterlockedIncrement(LONG volatile* addend) {
    return __atomic_add_fetch(addend, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedDecrement(LONG volatile* addend) {
    return __atomic_sub_fetch(addend, 1, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchange(LONG volatile* target, LONG value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedExchangeAdd(LONG volatile* addend, LONG value) {
    return __atomic_fetch_add(addend, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedCompareExchange(LONG volatile* destination, LONG exchange, LONG comparand) {
    __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}
inline LONG InterlockedOr(LONG volatile* destination, LONG value) {
    return __atomic_fetch_or(destination, value, __ATOMIC_SEQ_CST);
}
inline LONG InterlockedAnd(LONG volatile* destination, LONG value) {
    return __atomic_fetch_and(destination, value, __ATOMIC_SEQ_CST);
}
inline PVOID InterlockedExchangePointer(PVOID volatile* target, PVOID value) {
    return __atomic_exchange_n(target, value, __ATOMIC_SEQ_CST);
}
inline PVOID InterlockedCompareExchangePointer(PVOID volatile* destination, PVOID exchange,
                                               PVOID comparand) {
    __atomic_compare_exchange_n(destination, &comparand, exchange, false, __ATOMIC_SEQ_CST,
                                __ATOMIC_SEQ_CST);
    return comparand;
}

// ---- Doubly and singly linked lists (not interlocked) ---------------------------

inline void InitializeListHead(PLIST_ENTRY head) {
    head->Flink = head->Blink = head;
}
[[nodiscard]] inline bool IsListEmpty(const LIST_ENTRY* head) {
    return head->Flink == head;
}
inline BOOLEAN RemoveEntryList(PLIST_ENTRY entry) {
    PLIST_ENTRY next = entry->Flink;
    PLIST_ENTRY previous = entry->Blink;
    previous->Flink = next;
    next->Blink = previous;
    return next == previous;
}
inline PLIST_ENTRY RemoveHeadList(PLIST_ENTRY head) {
    PLIST_ENTRY entry = head->Flink;
    RemoveEntryList(entry);
    return entry;
}
inline PLIST_ENTRY RemoveTailList(PLIST_ENTRY head) {
    PLIST_ENTRY entry = head->Blink;
    RemoveEntryList(entry);
    return entry;
}
inline void InsertTailList(PLIST_ENTRY head, PLIST_ENTRY entry) {
    PLIST_ENTRY last = head->Blink;
    entry->Flink = head;
    entry->Blink = last;
    last->Flink = entry;
    head->Blink = entry;
}
inline void InsertHeadList(PLIST_ENTRY head, PLIST_ENTRY entry) {
    PLIST_ENTRY first = head->Flink;
    entry->Flink = first;
    entry->Blink = head;
    first->Blink = entry;
    head->Flink = entry;
}
inline void PushEntryList(PSINGLE_LIST_ENTRY head, PSINGLE_LIST_ENTRY entry) {
    entry->Next = head->Next;
    head->Next = entry;
}
inline PSINGLE_LIST_ENTRY PopEntryList(PSINGLE_LIST_ENTRY head) {
    PSINGLE_LIST_ENTRY first = head->Next;
    if (first != nullptr) head->Next = first->Next;
    return first;
}
