#include "framework/recursive_mutex.h"

namespace framework {

RecursiveMutex::RecursiveMutex() {
    KeInitializeEvent(&event_, SynchronizationEvent, TRUE);
}

void RecursiveMutex::Acquire() {
    if (IsOwnedByCurrentThread()) {
        ++depth_;
        return;
    }
    KeEnterCriticalRegion();
    (void)KeWaitForSingleObject(&event_, Executive, KernelMode, FALSE, nullptr);
    owner_.store(KeGetCurrentThread(), std::memory_order_relaxed);
    depth_ = 1;
}

void RecursiveMutex::Release() {
    if (!IsOwnedByCurrentThread()) return;
    if (--depth_ != 0) return;
    owner_.store(nullptr, std::memory_order_relaxed);
    KeSetEvent(&event_, IO_NO_INCREMENT, FALSE);
    KeLeaveCriticalRegion();
}

}  // namespace framework
