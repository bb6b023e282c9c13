#include "framework/irql_spin_lock.h"

namespace framework {
namespace {

using SpinLockRoutine = VOID (*)(PKSPIN_LOCK);

struct DpcLevelRoutines {
    SpinLockRoutine acquire;
    SpinLockRoutine release;
};

SpinLockRoutine Resolve(const WCHAR* name) {
    UNICODE_STRING routineName;
    RtlInitUnicodeString(&routineName, name);
    return reinterpret_cast<SpinLockRoutine>(MmGetSystemRoutineAddress(&routineName));
}

// Looked up by name once, when the first lock is built. A kernel that exports
// only one of the pair, or neither, gets the linked routines for both: acquire
// and release must come from the same pair, and the linked ones do the same work.
const DpcLevelRoutines& Routines() {
    static const DpcLevelRoutines routines = [] {
        DpcLevelRoutines found{Resolve(u"KefAcquireSpinLockAtDpcLevel"),
                               Resolve(u"KefReleaseSpinLockFromDpcLevel")};
        if (found.acquire == nullptr || found.release == nullptr) {
            found = {&KefAcquireSpinLockAtDpcLevel, &KefReleaseSpinLockFromDpcLevel};
        }
        return found;
    }();
    return routines;
}

}  // namespace

IrqlSpinLock::IrqlSpinLock(KIRQL targetIrql) : targetIrql_(targetIrql) {
    KeInitializeSpinLock(&lock_);
    (void)Routines();
}

void IrqlSpinLock::Acquire() {
    const KIRQL previous = KfRaiseIrql(targetIrql_);
    Routines().acquire(&lock_);
    savedIrql_ = previous;
}

void IrqlSpinLock::Release() {
    const KIRQL previous = savedIrql_;
    Routines().release(&lock_);
    KfLowerIrql(previous);
}

}  // namespace framework
