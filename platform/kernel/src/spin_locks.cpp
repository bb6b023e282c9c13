// Threads' IRQL, critical regions and spin locks that really exclude.
#include <atomic>
#include <thread>

#include "internal/dispatcher.h"
#include "internal/verifier.h"

namespace {

using kernel::internal::CurrentThread;
using kernel::internal::Report;
using kernel::internal::Violation;
namespace bugcheck = kernel::internal::bugcheck;

ULONG_PTR OwnerValue(const KTHREAD* thread) {
    return reinterpret_cast<ULONG_PTR>(thread);
}

void Spin(PKSPIN_LOCK lock, KTHREAD* thread) {
    std::atomic_ref<ULONG_PTR> word(*lock);
    for (;;) {
        ULONG_PTR expected = 0;
        if (word.compare_exchange_weak(expected, OwnerValue(thread), std::memory_order_acquire)) {
            return;
        }
        while (word.load(std::memory_order_relaxed) != 0) std::this_thread::yield();
    }
}

// Releases the lock if the current thread holds it; reports otherwise.
bool Unlock(PKSPIN_LOCK lock, KTHREAD* thread, const char* routine) {
    std::atomic_ref<ULONG_PTR> word(*lock);
    if (word.load(std::memory_order_relaxed) != OwnerValue(thread) ||
        !kernel::internal::NoteLockReleased(lock)) {
        Violation violation{sim::Rule::LockNotHeld, bugcheck::SPIN_LOCK_NOT_OWNED};
        violation.parameters[0] = reinterpret_cast<ULONG_PTR>(lock);
        violation.parameters[1] = word.load(std::memory_order_relaxed);
        violation.routine = routine;
        violation.message = "the spin lock is not held by the releasing thread";
        Report(violation);
        return false;
    }
    word.store(0, std::memory_order_release);
    return true;
}

void ReportIrql(sim::Rule rule, ULONG code, KIRQL irql, KIRQL expected, const char* routine,
                const char* text) {
    Violation violation{rule, code};
    violation.parameters[0] = irql;
    violation.parameters[1] = expected;
    violation.routine = routine;
    violation.message = text;
    Report(violation);
}

}  // namespace

PKTHREAD KeGetCurrentThread() {
    return CurrentThread();
}
PETHREAD PsGetCurrentThread() {
    return reinterpret_cast<PETHREAD>(CurrentThread());
}
void KeEnterCriticalRegion() {
    ++CurrentThread()->criticalRegion;
}
void KeLeaveCriticalRegion() {
    KTHREAD* thread = CurrentThread();
    if (thread->criticalRegion > 0) --thread->criticalRegion;
}
ULONG KeGetCurrentProcessorNumber() {
    return CurrentThread()->processor;
}
ULONG KeQueryActiveProcessorCount(PVOID activeProcessors) {
    constexpr ULONG count = kernel::internal::Dispatcher::kProcessors;
    if (activeProcessors != nullptr) {
        *static_cast<ULONG_PTR*>(activeProcessors) = (ULONG_PTR{1} << count) - 1;
    }
    return count;
}

KIRQL KeGetCurrentIrql() {
    return CurrentThread()->irql;
}

KIRQL KfRaiseIrql(KIRQL newIrql) {
    KTHREAD* thread = CurrentThread();
    const KIRQL old = thread->irql;
    if (newIrql < old) {
        ReportIrql(sim::Rule::IrqlChangeInvalid, bugcheck::IRQL_NOT_GREATER_OR_EQUAL, old, newIrql,
                   "KfRaiseIrql", "raising to an IRQL below the current one");
        return old;
    }
    thread->irql = newIrql;
    return old;
}

void KfLowerIrql(KIRQL newIrql) {
    KTHREAD* thread = CurrentThread();
    if (newIrql > thread->irql) {
        ReportIrql(sim::Rule::IrqlChangeInvalid, bugcheck::IRQL_NOT_LESS_OR_EQUAL, thread->irql,
                   newIrql, "KfLowerIrql", "lowering to an IRQL above the current one");
        return;
    }
    thread->irql = newIrql;
}

KIRQL KeRaiseIrqlToDpcLevel() {
    return KfRaiseIrql(DISPATCH_LEVEL);
}

void KeInitializeSpinLock(PKSPIN_LOCK spinLock) {
    *spinLock = 0;
    kernel::internal::ForgetLocksIn(spinLock, sizeof *spinLock);
}

KIRQL KfAcquireSpinLock(PKSPIN_LOCK spinLock) {
    KTHREAD* thread = CurrentThread();
    const KIRQL old = thread->irql;
    if (old > DISPATCH_LEVEL) {
        ReportIrql(sim::Rule::SpinLockAboveDispatch, bugcheck::IRQL_NOT_LESS_OR_EQUAL, old,
                   DISPATCH_LEVEL, "KfAcquireSpinLock",
                   "KfAcquireSpinLock above DISPATCH_LEVEL would lower the IRQL");
    }
    if (!kernel::internal::NoteLockAcquiring(spinLock, "KfAcquireSpinLock")) return old;
    if (thread->irql < DISPATCH_LEVEL) thread->irql = DISPATCH_LEVEL;
    Spin(spinLock, thread);
    kernel::internal::NoteLockAcquired(spinLock);
    return old;
}

void KfReleaseSpinLock(PKSPIN_LOCK spinLock, KIRQL newIrql) {
    KTHREAD* thread = CurrentThread();
    if (thread->irql != DISPATCH_LEVEL) {
        ReportIrql(sim::Rule::ReleaseAtWrongIrql, bugcheck::IRQL_NOT_GREATER_OR_EQUAL, thread->irql,
                   DISPATCH_LEVEL, "KfReleaseSpinLock",
                   "a spin lock taken with KfAcquireSpinLock is released at DISPATCH_LEVEL");
    }
    if (!Unlock(spinLock, thread, "KfReleaseSpinLock")) return;
    if (newIrql > DISPATCH_LEVEL) {
        ReportIrql(sim::Rule::ReleaseAtWrongIrql, bugcheck::IRQL_NOT_LESS_OR_EQUAL, thread->irql,
                   newIrql, "KfReleaseSpinLock", "the IRQL to return to is above DISPATCH_LEVEL");
        return;
    }
    thread->irql = newIrql;
}

void KefAcquireSpinLockAtDpcLevel(PKSPIN_LOCK spinLock) {
    KTHREAD* thread = CurrentThread();
    if (thread->irql < DISPATCH_LEVEL) {
        ReportIrql(sim::Rule::SpinLockBelowDispatch, bugcheck::IRQL_NOT_GREATER_OR_EQUAL,
                   thread->irql, DISPATCH_LEVEL, "KefAcquireSpinLockAtDpcLevel",
                   "the caller must already run at DISPATCH_LEVEL or above");
    }
    if (!kernel::internal::NoteLockAcquiring(spinLock, "KefAcquireSpinLockAtDpcLevel")) return;
    Spin(spinLock, thread);
    kernel::internal::NoteLockAcquired(spinLock);
}

void KefReleaseSpinLockFromDpcLevel(PKSPIN_LOCK spinLock) {
    KTHREAD* thread = CurrentThread();
    if (thread->irql < DISPATCH_LEVEL) {
        ReportIrql(sim::Rule::ReleaseAtWrongIrql, bugcheck::IRQL_NOT_GREATER_OR_EQUAL, thread->irql,
                   DISPATCH_LEVEL, "KefReleaseSpinLockFromDpcLevel",
                   "released below DISPATCH_LEVEL");
    }
    Unlock(spinLock, thread, "KefReleaseSpinLockFromDpcLevel");
}

BOOLEAN KeTryToAcquireSpinLockAtDpcLevel(PKSPIN_LOCK spinLock) {
    KTHREAD* thread = CurrentThread();
    std::atomic_ref<ULONG_PTR> word(*spinLock);
    ULONG_PTR expected = 0;
    if (!word.compare_exchange_strong(expected, OwnerValue(thread), std::memory_order_acquire)) {
        return FALSE;
    }
    kernel::internal::NoteLockAcquired(spinLock);
    return TRUE;
}
