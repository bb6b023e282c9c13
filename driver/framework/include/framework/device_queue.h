// A cancel-safe request queue: at most one current request, the others waiting
// in arrival order. It can be stalled (no request starts), aborted (every
// waiting and new request fails with one status) and cleaned up per file object.
#pragma once

#include <wdm.h>

#include <atomic>

namespace framework {

class DeviceObjectBase;
using IdleNotification = VOID (*)(PVOID context);

enum class StartPolicy {
    Dpc,      // the start routine runs at DISPATCH_LEVEL
    Passive,  // the start routine runs at PASSIVE_LEVEL (in a work item when needed)
};

class DeviceQueue {
  public:
    using StartRoutine = VOID (DeviceObjectBase::*)(PIRP irp);

    // Built stalled once. The passive policy reserves the work item it starts
    // requests with and raises STATUS_INSUFFICIENT_RESOURCES when it cannot.
    template <typename Owner>
    DeviceQueue(Owner* owner, VOID (Owner::*start)(PIRP irp), StartPolicy policy)
        : DeviceQueue(static_cast<DeviceObjectBase*>(owner), static_cast<StartRoutine>(start),
                      policy) {}
    DeviceQueue(DeviceObjectBase* owner, StartRoutine start, StartPolicy policy);
    DeviceQueue(const DeviceQueue&) = delete;
    DeviceQueue& operator=(const DeviceQueue&) = delete;
    // The queue must be idle. Completes the waiting requests with
    // STATUS_DELETE_PENDING and waits (PASSIVE_LEVEL) for the cancel routines
    // of those it lost to cancellation.
    virtual ~DeviceQueue();

    // Non-paged framework pool; raises STATUS_INSUFFICIENT_RESOURCES.
    static void* operator new(std::size_t size);
    static void operator delete(void* block);

    // The caller has marked the IRP pending and returns STATUS_PENDING.
    void QueueRequest(PIRP irp);
    // The current request is finished (its owner completes it); start the next.
    void GiveUpCurrent();
    void Stall();
    void Unstall();
    // PASSIVE_LEVEL: returns once no request is current.
    void WaitIdle();
    void Abort(NTSTATUS status);
    void ClearAbort();
    // Completes with `status` every waiting request of `fileObject` (of any file
    // object when it is NULL).
    void Cleanup(PFILE_OBJECT fileObject, NTSTATUS status);
    [[nodiscard]] bool IsIdle();
    // True when requests are waiting behind the current one.
    [[nodiscard]] bool HasWaiting();

    [[nodiscard]] PIRP CurrentIrp();
    [[nodiscard]] LONG StallCount() const { return stallCount_.load(); }

  protected:
    // Entered with the queue lock held (taken at `savedIrql_`); releases it.
    virtual void StartRequest(PIRP irp);

  private:
    friend class DeviceObjectBase;  // StallAllWithNotify takes the locks itself

    void Lock();
    void Unlock();
    void RunStartRoutine(PIRP irp);
    // With the lock held: starts the first waiting request that is not being
    // cancelled, releasing the lock, and answers true; false leaves it held.
    bool StartNextWaiting();
    // With the lock held: the notification installed by StallAllWithNotify.
    [[nodiscard]] bool HasIdleNotification() const { return idleNotification_ != nullptr; }
    void SetIdleNotification(IdleNotification notification, PVOID context);
    [[nodiscard]] bool HasCurrentIrp() const { return currentIrp_ != nullptr; }
    void StallLocked() { ++stallCount_; }
    void UnstallLocked() { --stallCount_; }

    // With the lock held: a waiting request is no longer armed with the cancel
    // routine; true when the destructor waits for this one.
    [[nodiscard]] bool DropArmedLocked() { return --armed_ == 0 && draining_; }

    static VOID CancelWaiting(PDEVICE_OBJECT deviceObject, PIRP irp);
    static VOID PassiveStart(PDEVICE_OBJECT deviceObject, PVOID context);

    LIST_ENTRY waiting_;
    KSPIN_LOCK lock_ = 0;
    KIRQL savedIrql_ = PASSIVE_LEVEL;
    DeviceObjectBase* owner_;
    StartRoutine start_;
    StartPolicy policy_;
    std::atomic<LONG> stallCount_{1};
    PIRP currentIrp_ = nullptr;
    KEVENT idleEvent_;
    IdleNotification idleNotification_ = nullptr;
    PVOID idleContext_ = nullptr;
    NTSTATUS abortStatus_ = STATUS_SUCCESS;
    ULONG startCounter_ = 0;
    PIO_WORKITEM startWorkItem_ = nullptr;  // passive policy only
    // Waiting requests armed with the cancel routine, including those taken off
    // the list while their cancel routine still has to run; guarded by the lock.
    LONG armed_ = 0;
    bool draining_ = false;
    KEVENT drained_;
};

}  // namespace framework
