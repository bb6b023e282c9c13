// A fast mutex taken inside a critical region without raising the IRQL
// (ExAcquireFastMutexUnsafe). PASSIVE_LEVEL only; not recursive.
#pragma once

#include <wdm.h>

namespace framework {

class FastMutex {
  public:
    FastMutex() { ExInitializeFastMutex(&mutex_); }  // count 1, no owner, no contention
    FastMutex(const FastMutex&) = delete;
    FastMutex& operator=(const FastMutex&) = delete;

    void Acquire() {
        KeEnterCriticalRegion();
        ExAcquireFastMutexUnsafe(&mutex_);
    }
    void Release() {
        ExReleaseFastMutexUnsafe(&mutex_);
        KeLeaveCriticalRegion();
    }

  private:
    FAST_MUTEX mutex_;
};

}  // namespace framework
