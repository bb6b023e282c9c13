#include "framework/device_object_base.h"

#include "framework/device_queue.h"
#include "framework/irp_helpers.h"
#include "framework/pending_irp_holder.h"
#include "framework/pool.h"

namespace framework {
namespace {

// The record shared by several busy queues: the last one to go idle calls the
// notification.
struct SharedIdleNotification {
    IdleNotification function;
    PVOID context;
    LONG count;
};

VOID CountDownIdleQueues(PVOID context) {
    auto* shared = static_cast<SharedIdleNotification*>(context);
    if (InterlockedDecrement(&shared->count) != 0) return;
    shared->function(shared->context);
    PoolFree(shared);
}

}  // namespace

DeviceCreation CreateDeviceObject(ULONG extensionSize, PDRIVER_OBJECT driverObject,
                                  const CountedString& name, DEVICE_TYPE deviceType,
                                  ULONG characteristics) {
    UNICODE_STRING deviceName = *name.Get();
    PDEVICE_OBJECT deviceObject = nullptr;
    const NTSTATUS status = IoCreateDevice(driverObject, extensionSize,
                                           name.LengthInCharacters() == 0 ? nullptr : &deviceName,
                                           deviceType, characteristics, FALSE, &deviceObject);
    if (!NT_SUCCESS(status)) ExRaiseStatus(status);
    return {deviceObject->DeviceExtension, driverObject, deviceObject, &name};
}

DeviceObjectBase::DeviceObjectBase(const DeviceCreation& creation)
    : driverObject_(creation.driverObject), deviceObject_(creation.deviceObject) {
    queueDpc_.Initialize(this, &DeviceObjectBase::OnQueueDpc);
    if (creation.name != nullptr) deviceName_.Assign(*creation.name);
}

DeviceObjectBase::~DeviceObjectBase() {
    // A give-up still queued must not run on a deleted queue.
    if (!queueDpc_.Remove() && KeGetCurrentIrql() == PASSIVE_LEVEL) KeFlushQueuedDpcs();
    DeleteQueues();
    symbolicLink_.Delete();
}

void DeviceObjectBase::operator delete(DeviceObjectBase* object, std::destroying_delete_t) {
    PDEVICE_OBJECT deviceObject = object->deviceObject_;
    object->~DeviceObjectBase();
    IoDeleteDevice(deviceObject);  // the object's memory is the device extension
}

NTSTATUS DeviceObjectBase::DispatchUnsupported(PIRP irp) {
    return Complete(irp, STATUS_NOT_SUPPORTED);
}

NTSTATUS DeviceObjectBase::Initialize() {
    deviceObject_->Flags &= ~DO_DEVICE_INITIALIZING;
    deviceObject_->Flags |= DO_POWER_PAGABLE;
    return STATUS_SUCCESS;
}

void DeviceObjectBase::AllocateQueueArray(ULONG count) {
    const SIZE_T bytes = count * sizeof(DeviceQueue*);
    queues_ = static_cast<DeviceQueue**>(PoolAllocateRaising(bytes));
    RtlZeroMemory(queues_, bytes);
    queueCount_ = count;
}

void DeviceObjectBase::DeleteQueues() {
    for (ULONG index = 0; index < queueCount_; ++index) delete queues_[index];
    PoolFree(queues_);
    queues_ = nullptr;
    queueCount_ = 0;
}

void DeviceObjectBase::StallAll() {
    for (ULONG index = 0; index < queueCount_; ++index) queues_[index]->Stall();
}

void DeviceObjectBase::UnstallAll() {
    for (ULONG index = 0; index < queueCount_; ++index) queues_[index]->Unstall();
}

void DeviceObjectBase::WaitAllIdle() {
    for (ULONG index = 0; index < queueCount_; ++index) queues_[index]->WaitIdle();
}

void DeviceObjectBase::AbortAll(NTSTATUS status) {
    CancelOwnRequests();
    for (ULONG index = 0; index < queueCount_; ++index) queues_[index]->Abort(status);
}

void DeviceObjectBase::ClearAllAborts() {
    for (ULONG index = 0; index < queueCount_; ++index) queues_[index]->ClearAbort();
}

void DeviceObjectBase::CleanupAll(PFILE_OBJECT fileObject, NTSTATUS status) {
    for (ULONG index = 0; index < queueCount_; ++index) queues_[index]->Cleanup(fileObject, status);
    if (fileObject != nullptr) {
        CancelHeldForFile(fileObject);
    } else {
        CancelHeldForDevice(deviceObject_, false);
    }
}

NTSTATUS DeviceObjectBase::StallAllWithNotify(IdleNotification notification, PVOID context) {
    const KIRQL previous = KfRaiseIrql(DISPATCH_LEVEL);
    for (ULONG index = 0; index < queueCount_; ++index) {
        KefAcquireSpinLockAtDpcLevel(&queues_[index]->lock_);
    }
    ULONG stalled = 0;
    ULONG busy = 0;
    DeviceQueue* busyQueue = nullptr;
    NTSTATUS status = STATUS_SUCCESS;
    for (; stalled < queueCount_; ++stalled) {
        DeviceQueue* queue = queues_[stalled];
        if (queue->HasIdleNotification()) {
            status = STATUS_INVALID_DEVICE_REQUEST;
            break;
        }
        queue->StallLocked();
        if (queue->HasCurrentIrp()) {
            ++busy;
            busyQueue = queue;
        }
    }
    if (NT_SUCCESS(status) && busy == 1) {
        busyQueue->SetIdleNotification(notification, context);
        status = STATUS_PENDING;
    } else if (NT_SUCCESS(status) && busy > 1) {
        auto* shared =
            static_cast<SharedIdleNotification*>(PoolAllocate(sizeof(SharedIdleNotification)));
        if (shared == nullptr) {
            status = STATUS_INSUFFICIENT_RESOURCES;
        } else {
            *shared = {notification, context, static_cast<LONG>(busy)};
            for (ULONG index = 0; index < queueCount_; ++index) {
                if (queues_[index]->HasCurrentIrp()) {
                    queues_[index]->SetIdleNotification(&CountDownIdleQueues, shared);
                }
            }
            status = STATUS_PENDING;
        }
    }
    if (!NT_SUCCESS(status)) {
        for (ULONG index = 0; index < stalled; ++index) queues_[index]->UnstallLocked();
    }
    for (ULONG index = queueCount_; index-- > 0;) {
        KefReleaseSpinLockFromDpcLevel(&queues_[index]->lock_);
    }
    KfLowerIrql(previous);
    return status;
}

NTSTATUS DeviceObjectBase::RequestGiveUp(ULONG index) {
    if (index >= queueCount_ || index >= 32) return STATUS_INVALID_PARAMETER;
    (void)InterlockedOr(&queueGiveUpMask_, static_cast<LONG>(1u << index));
    (void)queueDpc_.Insert();
    return STATUS_SUCCESS;
}

void DeviceObjectBase::OnQueueDpc(PVOID, PVOID) {
    const auto mask = static_cast<ULONG>(InterlockedExchange(&queueGiveUpMask_, 0));
    for (ULONG index = 0; index < queueCount_; ++index) {
        if ((mask & (1u << index)) != 0) queues_[index]->GiveUpCurrent();
    }
}

}  // namespace framework
