#include "framework/irp_helpers.h"

namespace framework {

NTSTATUS Complete(PIRP irp, NTSTATUS status) {
    irp->IoStatus.Status = status;
    IofCompleteRequest(irp, IO_NO_INCREMENT);
    return status;
}

NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information) {
    irp->IoStatus.Information = information;
    return Complete(irp, status);
}

NTSTATUS PassDown(PIRP irp, PDEVICE_OBJECT lowerDevice) {
    IoSkipCurrentIrpStackLocation(irp);
    return IofCallDriver(lowerDevice, irp);
}

PVOID SystemAddress(PMDL mdl) {
    if (mdl == nullptr) return nullptr;
    if ((mdl->MdlFlags & (MDL_MAPPED_TO_SYSTEM_VA | MDL_SOURCE_IS_NONPAGED_POOL)) != 0) {
        return mdl->MappedSystemVa;
    }
    const bool couldFail = (mdl->MdlFlags & MDL_MAPPING_CAN_FAIL) != 0;
    mdl->MdlFlags |= MDL_MAPPING_CAN_FAIL;
    PVOID address = MmMapLockedPages(mdl, KernelMode);
    if (!couldFail) mdl->MdlFlags &= ~MDL_MAPPING_CAN_FAIL;
    return address;
}

}  // namespace framework
