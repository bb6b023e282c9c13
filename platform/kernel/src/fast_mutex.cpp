// Fast mutexes: a count and a synchronization event, as the platform builds them.
#include "internal/dispatcher.h"
#include "internal/verifier.h"
#include "kernel/ex.h"

namespace {

using kernel::internal::CurrentThread;
using kernel::internal::Report;
using kernel::internal::Violation;
namespace bugcheck = kernel::internal::bugcheck;

PKTHREAD Owner(const FAST_MUTEX* mutex) {
    return __atomic_load_n(&mutex->Owner, __ATOMIC_SEQ_CST);
}
void SetOwner(FAST_MUTEX* mutex, PKTHREAD owner) {
    __atomic_store_n(&mutex->Owner, owner, __ATOMIC_SEQ_CST);
}

// Returns false (after reporting) when the mutex cannot be taken by this thread.
bool Acquire(PFAST_MUTEX mutex, const char* routine) {
    KTHREAD* thread = CurrentThread();
    if (Owner(mutex) == thread) {
        Violation violation{sim::Rule::RecursiveLock, bugcheck::DRIVER_VERIFIER_DETECTED_VIOLATION};
        violation.parameters[0] = reinterpret_cast<ULONG_PTR>(mutex);
        violation.routine = routine;
        violation.message = "a fast mutex is not recursive";
        Report(violation);
        return false;
    }
    if (!kernel::internal::NoteLockAcquiring(mutex, routine)) return false;
    if (InterlockedDecrement(&mutex->Count) != 0) {
        InterlockedIncrement(reinterpret_cast<LONG volatile*>(&mutex->Contention));
        KeWaitForSingleObject(&mutex->Event, Executive, KernelMode, FALSE, nullptr);
    }
    SetOwner(mutex, thread);
    kernel::internal::NoteLockAcquired(mutex);
    return true;
}

bool Release(PFAST_MUTEX mutex, const char* routine) {
    KTHREAD* thread = CurrentThread();
    if (Owner(mutex) != thread || !kernel::internal::NoteLockReleased(mutex)) {
        Violation violation{sim::Rule::LockNotHeld, bugcheck::DRIVER_VERIFIER_DETECTED_VIOLATION};
        violation.parameters[0] = reinterpret_cast<ULONG_PTR>(mutex);
        violation.parameters[1] = reinterpret_cast<ULONG_PTR>(Owner(mutex));
        violation.routine = routine;
        violation.message = "the fast mutex is not owned by the releasing thread";
        Report(violation);
        return false;
    }
    SetOwner(mutex, nullptr);
    if (InterlockedIncrement(&mutex->Count) != 1) KeSetEvent(&mutex->Event, 0, FALSE);
    return true;
}

}  // namespace

void ExInitializeFastMutex(PFAST_MUTEX fastMutex) {
    fastMutex->Count = 1;
    fastMutex->Owner = nullptr;
    fastMutex->Contention = 0;
    fastMutex->OldIrql = PASSIVE_LEVEL;
    KeInitializeEvent(&fastMutex->Event, SynchronizationEvent, FALSE);
    kernel::internal::ForgetLocksIn(fastMutex, sizeof *fastMutex);
}

void ExAcquireFastMutex(PFAST_MUTEX fastMutex) {
    if (!kernel::internal::RequireIrqlAtMost(APC_LEVEL, "ExAcquireFastMutex")) return;
    const KIRQL old = KfRaiseIrql(APC_LEVEL);
    if (!Acquire(fastMutex, "ExAcquireFastMutex")) {
        KfLowerIrql(old);
        return;
    }
    fastMutex->OldIrql = old;
}

void ExReleaseFastMutex(PFAST_MUTEX fastMutex) {
    const auto old = static_cast<KIRQL>(fastMutex->OldIrql);
    if (Release(fastMutex, "ExReleaseFastMutex")) KfLowerIrql(old);
}

BOOLEAN ExTryToAcquireFastMutex(PFAST_MUTEX fastMutex) {
    if (!kernel::internal::RequireIrqlAtMost(APC_LEVEL, "ExTryToAcquireFastMutex")) return FALSE;
    if (InterlockedCompareExchange(&fastMutex->Count, 0, 1) != 1) return FALSE;
    const KIRQL old = KfRaiseIrql(APC_LEVEL);
    SetOwner(fastMutex, CurrentThread());
    kernel::internal::NoteLockAcquired(fastMutex);
    fastMutex->OldIrql = old;
    return TRUE;
}

void ExAcquireFastMutexUnsafe(PFAST_MUTEX fastMutex) {
    if (!kernel::internal::RequireIrqlAtMost(APC_LEVEL, "ExAcquireFastMutexUnsafe")) return;
    Acquire(fastMutex, "ExAcquireFastMutexUnsafe");
}

void ExReleaseFastMutexUnsafe(PFAST_MUTEX fastMutex) {
    Release(fastMutex, "ExReleaseFastMutexUnsafe");
}
