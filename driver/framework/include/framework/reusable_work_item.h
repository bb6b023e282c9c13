// One IO_WORKITEM queued again and again: Queue() while the item is queued and
// has not started yet does nothing (the coming run sees the new work); a Queue()
// once a run has started queues another run, which may overlap it on another
// worker thread. Shutdown() waits until the item is neither queued nor running
// and frees it.
#pragma once

#include <wdm.h>

namespace framework {

class ReusableWorkItem {
  public:
    using Routine = void (*)(PVOID context);

    ReusableWorkItem();
    ReusableWorkItem(const ReusableWorkItem&) = delete;
    ReusableWorkItem& operator=(const ReusableWorkItem&) = delete;
    ~ReusableWorkItem() { Shutdown(); }

    // False when the IO_WORKITEM cannot be had.
    [[nodiscard]] bool Allocate(PDEVICE_OBJECT deviceObject, Routine routine, PVOID context);
    [[nodiscard]] bool IsAllocated() const { return item_ != nullptr; }
    // Any IRQL up to DISPATCH_LEVEL.
    void Queue();
    // PASSIVE_LEVEL. The owner no longer queues the item.
    void Shutdown();

  private:
    static VOID Run(PDEVICE_OBJECT deviceObject, PVOID context);

    PIO_WORKITEM item_ = nullptr;
    Routine routine_ = nullptr;
    PVOID context_ = nullptr;
    LONG queued_ = 0;  // queued and not started yet
    KSPIN_LOCK lock_ = 0;
    LONG busy_ = 0;  // queued or running; guarded by the lock
    KEVENT idle_;    // signalled while busy_ is 0
};

}  // namespace framework
