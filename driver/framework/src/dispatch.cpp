#include <iterator>

#include "framework/device_object_base.h"
#include "framework/driver_entry.h"

namespace framework {
namespace {

using Handler = NTSTATUS (DeviceObjectBase::*)(PIRP irp);

// One handler per IRP major function, in the order of the function codes.
constexpr Handler kDispatchTable[] = {
    &DeviceObjectBase::DispatchCreate,
    &DeviceObjectBase::DispatchCreateNamedPipe,
    &DeviceObjectBase::DispatchClose,
    &DeviceObjectBase::DispatchRead,
    &DeviceObjectBase::DispatchWrite,
    &DeviceObjectBase::DispatchQueryInformation,
    &DeviceObjectBase::DispatchSetInformation,
    &DeviceObjectBase::DispatchQueryEa,
    &DeviceObjectBase::DispatchSetEa,
    &DeviceObjectBase::DispatchFlushBuffers,
    &DeviceObjectBase::DispatchQueryVolumeInformation,
    &DeviceObjectBase::DispatchSetVolumeInformation,
    &DeviceObjectBase::DispatchDirectoryControl,
    &DeviceObjectBase::DispatchFileSystemControl,
    &DeviceObjectBase::DispatchDeviceControl,
    &DeviceObjectBase::DispatchInternalDeviceControl,
    &DeviceObjectBase::DispatchShutdown,
    &DeviceObjectBase::DispatchLockControl,
    &DeviceObjectBase::DispatchCleanup,
    &DeviceObjectBase::DispatchCreateMailslot,
    &DeviceObjectBase::DispatchQuerySecurity,
    &DeviceObjectBase::DispatchSetSecurity,
    &DeviceObjectBase::DispatchPower,
    &DeviceObjectBase::DispatchSystemControl,
    &DeviceObjectBase::DispatchDeviceChange,
    &DeviceObjectBase::DispatchQueryQuota,
    &DeviceObjectBase::DispatchSetQuota,
    &DeviceObjectBase::DispatchPnp,
};
static_assert(std::size(kDispatchTable) == IRP_MJ_MAXIMUM_FUNCTION + 1);

}  // namespace

// The I/O manager calls only the entries 0..IRP_MJ_MAXIMUM_FUNCTION.
NTSTATUS Dispatch(PDEVICE_OBJECT deviceObject, PIRP irp) {
    DeviceObjectBase* object = DeviceObjectBase::FromDeviceObject(deviceObject);
    const Handler handler = kDispatchTable[IoGetCurrentIrpStackLocation(irp)->MajorFunction];
    return (object->*handler)(irp);
}

}  // namespace framework
