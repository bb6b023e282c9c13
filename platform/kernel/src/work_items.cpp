// I/O work items: run in a system worker thread at PASSIVE_LEVEL, holding a
// reference on their device object while queued or running.
#include <map>
#include <set>

#include "internal/dispatcher.h"
#include "internal/faults.h"
#include "internal/io_manager.h"
#include "internal/verifier.h"

struct IO_WORKITEM {
    PDEVICE_OBJECT device = nullptr;
    PIO_WORKITEM_ROUTINE routine = nullptr;
    PVOID context = nullptr;
    bool queued = false;  // guarded by the work-item table lock
};

namespace kernel::internal {
namespace {

struct WorkItemTable {
    std::mutex mutex;
    std::set<PIO_WORKITEM> live;
};

WorkItemTable& Table() {
    static WorkItemTable table;
    return table;
}

void ReportMisuse(PIO_WORKITEM item, const char* routine, const char* text) {
    Violation violation{sim::Rule::WorkItemMisuse, bugcheck::DRIVER_VERIFIER_DETECTED_VIOLATION};
    violation.parameters[0] = reinterpret_cast<ULONG_PTR>(item);
    violation.routine = routine;
    violation.message = text;
    Report(violation);
}

void RunIoWorkItem(void* argument) {
    auto* item = static_cast<PIO_WORKITEM>(argument);
    PDEVICE_OBJECT device;
    PIO_WORKITEM_ROUTINE routine;
    PVOID context;
    {
        auto& table = Table();
        std::lock_guard guard(table.mutex);
        item->queued = false;
        device = item->device;
        routine = item->routine;
        context = item->context;
    }
    // The routine may free or requeue the item; only the copies are used after it.
    routine(device, context);
    ObDereferenceObject(device);
}

}  // namespace

std::vector<std::string> LiveWorkItems() {
    std::vector<std::string> items;
    {
        auto& table = Table();
        std::lock_guard guard(table.mutex);
        for (PIO_WORKITEM item : table.live) {
            char text[96];
            std::snprintf(text, sizeof text, "IO_WORKITEM %p of device %p%s",
                          static_cast<void*>(item), static_cast<void*>(item->device),
                          item->queued ? " (queued)" : "");
            items.push_back(text);
        }
    }
    auto& dispatcher = Dispatcher::Instance();
    std::lock_guard lock(dispatcher.mutex);
    for (const WorkEntry& entry : dispatcher.workQueue) {
        char text[64];
        std::snprintf(text, sizeof text, "queued work item %p", entry.identity);
        items.push_back(text);
    }
    return items;
}

void ForgetWorkItems() {
    {
        auto& table = Table();
        std::lock_guard guard(table.mutex);
        table.live.clear();  // the items themselves are left to their owners
    }
    auto& dispatcher = Dispatcher::Instance();
    std::lock_guard lock(dispatcher.mutex);
    dispatcher.workQueue.clear();
}

}  // namespace kernel::internal

using namespace kernel::internal;

PIO_WORKITEM IoAllocateWorkItem(PDEVICE_OBJECT deviceObject) {
    if (deviceObject == nullptr || ShouldFail(sim::FaultSite::WorkItem)) return nullptr;
    auto* item = new IO_WORKITEM;
    item->device = deviceObject;
    auto& table = Table();
    std::lock_guard guard(table.mutex);
    table.live.insert(item);
    return item;
}

void IoQueueWorkItem(PIO_WORKITEM ioWorkItem, PIO_WORKITEM_ROUTINE workerRoutine, WORK_QUEUE_TYPE,
                     PVOID context) {
    RequireIrqlAtMost(DISPATCH_LEVEL, "IoQueueWorkItem");
    {
        auto& table = Table();
        std::unique_lock guard(table.mutex);
        if (table.live.count(ioWorkItem) == 0) {
            guard.unlock();
            ReportMisuse(ioWorkItem, "IoQueueWorkItem", "the work item is not allocated");
            return;
        }
        if (ioWorkItem->queued) {
            guard.unlock();
            ReportMisuse(ioWorkItem, "IoQueueWorkItem", "the work item is already queued");
            return;
        }
        ioWorkItem->queued = true;
        ioWorkItem->routine = workerRoutine;
        ioWorkItem->context = context;
    }
    ObReferenceObject(ioWorkItem->device);
    auto& dispatcher = Dispatcher::Instance();
    CurrentThread();
    std::lock_guard lock(dispatcher.mutex);
    dispatcher.QueueWork({RunIoWorkItem, ioWorkItem, ioWorkItem});
}

void IoFreeWorkItem(PIO_WORKITEM ioWorkItem) {
    auto& table = Table();
    std::unique_lock guard(table.mutex);
    if (table.live.count(ioWorkItem) == 0) {
        guard.unlock();
        ReportMisuse(ioWorkItem, "IoFreeWorkItem", "the work item is not allocated (freed twice?)");
        return;
    }
    if (ioWorkItem->queued) {
        guard.unlock();
        ReportMisuse(ioWorkItem, "IoFreeWorkItem", "the work item is still queued");
        return;
    }
    table.live.erase(ioWorkItem);
    delete ioWorkItem;
}
