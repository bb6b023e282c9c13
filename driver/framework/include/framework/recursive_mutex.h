// A mutex the owning thread may take again, built on a synchronisation event.
// PASSIVE_LEVEL only; holding it keeps normal kernel APCs off (critical region).
#pragma once

#include <wdm.h>

#include <atomic>

namespace framework {

class RecursiveMutex {
  public:
    RecursiveMutex();
    RecursiveMutex(const RecursiveMutex&) = delete;
    RecursiveMutex& operator=(const RecursiveMutex&) = delete;

    void Acquire();
    // By a thread that does not own the mutex: nothing happens.
    void Release();

    [[nodiscard]] bool IsOwnedByCurrentThread() const {
        return owner_.load(std::memory_order_relaxed) == KeGetCurrentThread();
    }

  private:
    KEVENT event_;
    // Written only by the owner; others compare it with themselves, which never
    // matches, so a relaxed read is enough.
    std::atomic<PKTHREAD> owner_{nullptr};
    LONG depth_ = 0;
};

// Holds a RecursiveMutex for a scope.
class RecursiveMutexGuard {
  public:
    explicit RecursiveMutexGuard(RecursiveMutex& mutex) : mutex_(mutex) { mutex_.Acquire(); }
    ~RecursiveMutexGuard() { mutex_.Release(); }
    RecursiveMutexGuard(const RecursiveMutexGuard&) = delete;
    RecursiveMutexGuard& operator=(const RecursiveMutexGuard&) = delete;

  private:
    RecursiveMutex& mutex_;
};

}  // namespace framework
