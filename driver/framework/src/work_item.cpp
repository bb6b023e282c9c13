#include "framework/work_item.h"

#include "framework/driver_globals.h"

namespace framework {

WorkItem::~WorkItem() {
    if (ioWorkItem_ != nullptr) IoFreeWorkItem(ioWorkItem_);
}

PIO_WORKITEM WorkItem::AllocateIoWorkItem(PDEVICE_OBJECT deviceObject) {
    if (deviceObject == nullptr && TheDriverObject != nullptr) {
        deviceObject = TheDriverObject->DeviceObject;
    }
    if (deviceObject == nullptr) return nullptr;
    return IoAllocateWorkItem(deviceObject);
}

void WorkItem::Queue(PVOID argument, WORK_QUEUE_TYPE queueType) {
    argument_ = argument;
    IoQueueWorkItem(ioWorkItem_, &WorkItem::Routine, queueType, this);
}

VOID WorkItem::Routine(PDEVICE_OBJECT, PVOID context) {
    auto* item = static_cast<WorkItem*>(context);
    item->Run(item->argument_);
    delete item;
}

}  // namespace framework
