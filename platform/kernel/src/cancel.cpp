// IRP cancellation and the system cancel spin lock.
#include "internal/dispatcher.h"
#include "internal/io_manager.h"
#include "internal/verifier.h"

namespace {
KSPIN_LOCK cancelSpinLock = 0;
}

void IoAcquireCancelSpinLock(PKIRQL irql) {
    *irql = KfAcquireSpinLock(&cancelSpinLock);
}

void IoReleaseCancelSpinLock(KIRQL irql) {
    KfReleaseSpinLock(&cancelSpinLock, irql);
}

BOOLEAN IoCancelIrp(PIRP irp) {
    if (!kernel::internal::IrpIsLive(irp)) {
        kernel::internal::Violation violation{
            sim::Rule::IrpUsedAfterFree,
            kernel::internal::bugcheck::DRIVER_VERIFIER_IOMANAGER_VIOLATION};
        violation.parameters[0] = reinterpret_cast<ULONG_PTR>(irp);
        violation.routine = "IoCancelIrp";
        violation.message = "the IRP was freed (or never allocated)";
        violation.irp = irp;
        kernel::internal::Report(violation);
        return FALSE;
    }
    KIRQL irql;
    IoAcquireCancelSpinLock(&irql);
    irp->Cancel = TRUE;
    PDRIVER_CANCEL routine = IoSetCancelRoutine(irp, nullptr);
    if (routine == nullptr) {
        IoReleaseCancelSpinLock(irql);
        return FALSE;
    }
    irp->CancelIrql = irql;
    // The routine releases the cancel spin lock.
    // An IRP not sent yet has no current location (it would lie past the IRP).
    PDEVICE_OBJECT device = irp->CurrentLocation <= irp->StackCount
                                ? IoGetCurrentIrpStackLocation(irp)->DeviceObject
                                : nullptr;
    routine(device, irp);
    return TRUE;
}
