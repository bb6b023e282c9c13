// The driver's entry point, its unload routine and the one dispatch routine
// that all IRP major functions lead to.
#pragma once

#include <wdm.h>

// Sets up the driver-wide data; a raised status unloads again and is returned.
NTSTATUS DriverEntry(PDRIVER_OBJECT driverObject, PUNICODE_STRING registryPath);

namespace framework {

// Deletes every device (those asking to go first, first) and runs the exit list.
VOID DriverUnload(PDRIVER_OBJECT driverObject);

// Calls the device object's handler for the request's major function.
NTSTATUS Dispatch(PDEVICE_OBJECT deviceObject, PIRP irp);

// The driver's AddDevice routine. It is not part of the framework: the driver
// image (the USB function device) supplies it, tests supply their own. It
// builds its device with CreateDeviceAndInitialize (device_object_base.h).
NTSTATUS AddDevice(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT physicalDeviceObject);

}  // namespace framework
