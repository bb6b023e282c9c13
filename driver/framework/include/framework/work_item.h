// Work to be done at PASSIVE_LEVEL in a system worker thread. A derived class
// implements Run; the item deletes itself (and its IO_WORKITEM) after running.
//
//   auto* item = WorkItem::Create<MyWork>(deviceObject, constructor arguments...);
//   if (item == nullptr) ... out of resources ...
//   item->Queue(argument);
#pragma once

#include <wdm.h>

#include <new>
#include <utility>

#include "framework/pool.h"

namespace framework {

class WorkItem {
  public:
    virtual ~WorkItem();
    WorkItem(const WorkItem&) = delete;
    WorkItem& operator=(const WorkItem&) = delete;

    // The item for `deviceObject`, or for the driver's first device object when
    // it is NULL; NULL when either the IO_WORKITEM or the object cannot be had.
    template <typename Derived, typename... Arguments>
    [[nodiscard]] static Derived* Create(PDEVICE_OBJECT deviceObject, Arguments&&... arguments) {
        PIO_WORKITEM ioWorkItem = AllocateIoWorkItem(deviceObject);
        if (ioWorkItem == nullptr) return nullptr;
        auto* item = new Derived(std::forward<Arguments>(arguments)...);
        if (item == nullptr) {
            IoFreeWorkItem(ioWorkItem);
            return nullptr;
        }
        item->ioWorkItem_ = ioWorkItem;
        return item;
    }

    void Queue(PVOID argument = nullptr, WORK_QUEUE_TYPE queueType = DelayedWorkQueue);

    // Non-paged framework pool; NULL instead of an exception.
    static void* operator new(std::size_t size) noexcept { return PoolAllocate(size); }
    static void operator delete(void* block) { PoolFree(block); }

  protected:
    WorkItem() = default;
    virtual void Run(PVOID argument) = 0;

  private:
    static PIO_WORKITEM AllocateIoWorkItem(PDEVICE_OBJECT deviceObject);
    static VOID Routine(PDEVICE_OBJECT deviceObject, PVOID context);

    PIO_WORKITEM ioWorkItem_ = nullptr;
    PVOID argument_ = nullptr;
};

}  // namespace framework
