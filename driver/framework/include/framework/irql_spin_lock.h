// A spin lock taken at a chosen IRQL (up to HIGH_LEVEL): raise to the target,
// then take the lock with the DPC-level routines.
#pragma once

#include <wdm.h>

namespace framework {

class IrqlSpinLock {
  public:
    explicit IrqlSpinLock(KIRQL targetIrql);
    IrqlSpinLock(const IrqlSpinLock&) = delete;
    IrqlSpinLock& operator=(const IrqlSpinLock&) = delete;

    // The caller's IRQL must not be above the target.
    void Acquire();
    void Release();

  private:
    KSPIN_LOCK lock_ = 0;
    KIRQL targetIrql_;
    KIRQL savedIrql_ = PASSIVE_LEVEL;
};

}  // namespace framework
