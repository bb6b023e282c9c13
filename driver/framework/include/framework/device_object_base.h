// The root of the driver's device classes: an object living in the extension of
// its own DEVICE_OBJECT, with one virtual handler per IRP major function. The
// dispatcher turns every request into a call of the matching handler.
#pragma once

#include <wdm.h>

#include <new>

#include "framework/counted_string.h"
#include "framework/dpc_object.h"
#include "framework/symbolic_link.h"

namespace framework {

class DeviceQueue;

// What device creation hands to the constructor of the class built in the
// extension of the new device object.
struct DeviceCreation {
    PVOID extension;
    PDRIVER_OBJECT driverObject;
    PDEVICE_OBJECT deviceObject;
    const CountedString* name;  // may be empty
};

// IoCreateDevice (not exclusive, unnamed when `name` is empty) with room for
// `extensionSize` bytes; raises the IoCreateDevice status on failure.
[[nodiscard]] DeviceCreation CreateDeviceObject(ULONG extensionSize, PDRIVER_OBJECT driverObject,
                                                const CountedString& name, DEVICE_TYPE deviceType,
                                                ULONG characteristics);

using IdleNotification = VOID (*)(PVOID context);

class DeviceObjectBase {
  public:
    explicit DeviceObjectBase(const DeviceCreation& creation);
    DeviceObjectBase(const DeviceObjectBase&) = delete;
    DeviceObjectBase& operator=(const DeviceObjectBase&) = delete;

    // `delete object` is the deleting destructor: it runs the destructors and
    // then deletes the device object whose extension holds the object.
    static void operator delete(DeviceObjectBase* object, std::destroying_delete_t);

    // The object in a device object's extension.
    [[nodiscard]] static DeviceObjectBase* FromDeviceObject(PDEVICE_OBJECT deviceObject) {
        return static_cast<DeviceObjectBase*>(deviceObject->DeviceExtension);
    }

    // Virtual operations, in table order.
    virtual ~DeviceObjectBase();
    virtual void CancelOwnRequests() {}
    virtual NTSTATUS DispatchCreate(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchCreateNamedPipe(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchClose(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchRead(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchWrite(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchQueryInformation(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchSetInformation(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchQueryEa(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchSetEa(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchFlushBuffers(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchQueryVolumeInformation(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchSetVolumeInformation(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchDirectoryControl(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchFileSystemControl(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchDeviceControl(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchInternalDeviceControl(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchShutdown(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchLockControl(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchCleanup(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchCreateMailslot(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchQuerySecurity(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchSetSecurity(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchPower(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchSystemControl(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchDeviceChange(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchQueryQuota(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchSetQuota(PIRP irp) { return DispatchUnsupported(irp); }
    virtual NTSTATUS DispatchPnp(PIRP irp) { return DispatchUnsupported(irp); }
    // Completes the request with STATUS_NOT_SUPPORTED.
    virtual NTSTATUS DispatchUnsupported(PIRP irp);
    // Readies the device object for requests. May raise a status.
    [[nodiscard]] virtual NTSTATUS Initialize();
    // Devices answering true are deleted in a first pass at unload.
    [[nodiscard]] virtual bool DeleteFirstOnUnload() { return false; }

    // Per-device queue operations, over all queues in array order.
    void StallAll();
    void UnstallAll();
    void WaitAllIdle();  // PASSIVE_LEVEL
    void AbortAll(NTSTATUS status);
    void ClearAllAborts();
    void CleanupAll(PFILE_OBJECT fileObject, NTSTATUS status);
    // Stalls every queue; STATUS_SUCCESS when all are idle at once, STATUS_PENDING
    // when `notification` will be called once the last busy queue gives up its
    // current request.
    [[nodiscard]] NTSTATUS StallAllWithNotify(IdleNotification notification, PVOID context);
    // From any IRQL: the queue DPC gives up queue `index`'s current request.
    [[nodiscard]] NTSTATUS RequestGiveUp(ULONG index);

    [[nodiscard]] PDEVICE_OBJECT DeviceObject() const { return deviceObject_; }
    [[nodiscard]] PDRIVER_OBJECT DriverObject() const { return driverObject_; }
    [[nodiscard]] const CountedString& DeviceName() const { return deviceName_; }
    [[nodiscard]] ULONG QueueCount() const { return queueCount_; }
    [[nodiscard]] DeviceQueue* Queue(ULONG index) const { return queues_[index]; }

  protected:
    // Takes ownership of a new queue array of `count` entries, each filled by
    // `makeQueue(index)` (which may raise); raises when the array cannot be had.
    template <typename MakeQueue>
    void CreateQueues(ULONG count, MakeQueue makeQueue) {
        AllocateQueueArray(count);
        for (ULONG index = 0; index < count; ++index) queues_[index] = makeQueue(index);
    }

    SymbolicLink symbolicLink_;

  private:
    void AllocateQueueArray(ULONG count);
    void DeleteQueues();
    void OnQueueDpc(PVOID, PVOID);

    PDRIVER_OBJECT driverObject_;
    PDEVICE_OBJECT deviceObject_;
    CountedString deviceName_;
    DeviceQueue** queues_ = nullptr;
    ULONG queueCount_ = 0;
    DpcObject<DeviceObjectBase> queueDpc_;
    LONG queueGiveUpMask_ = 0;
};

// The AddDevice contract: create the device object, construct `Class` in its
// extension and initialise it. A raised or failing status destroys whatever was
// built (the object through its deleting destructor) and is returned.
template <typename Class, typename... Arguments>
[[nodiscard]] NTSTATUS CreateDeviceAndInitialize(Class** created, PDRIVER_OBJECT driverObject,
                                                 const CountedString& name, DEVICE_TYPE deviceType,
                                                 ULONG characteristics, Arguments&&... arguments) {
    *created = nullptr;
    DeviceCreation creation;
    try {
        creation =
            CreateDeviceObject(sizeof(Class), driverObject, name, deviceType, characteristics);
    } catch (const kernel::StatusException& raised) {
        return raised.Status();
    }
    Class* object = nullptr;
    try {
        object = new (creation.extension) Class(creation, static_cast<Arguments&&>(arguments)...);
    } catch (const kernel::StatusException& raised) {
        IoDeleteDevice(creation.deviceObject);  // the members built so far are gone
        return raised.Status();
    }
    NTSTATUS status;
    try {
        status = object->Initialize();
    } catch (const kernel::StatusException& raised) {
        status = raised.Status();
    }
    if (!NT_SUCCESS(status)) {
        delete object;
        return status;
    }
    *created = object;
    return status;
}

}  // namespace framework
