// Completing and forwarding requests, and the system address of a request's MDL.
#pragma once

#include <wdm.h>

namespace framework {

// Sets IoStatus.Status (and Information) and completes the request; returns
// the status. The two-argument form leaves Information as the caller set it.
NTSTATUS Complete(PIRP irp, NTSTATUS status);
NTSTATUS Complete(PIRP irp, NTSTATUS status, ULONG_PTR information);

// Hands the request to `lowerDevice` without a stack location of our own.
NTSTATUS PassDown(PIRP irp, PDEVICE_OBJECT lowerDevice);

// A system address for the buffer the MDL describes, or NULL (also for a NULL
// MDL) when it cannot be mapped.
[[nodiscard]] PVOID SystemAddress(PMDL mdl);

}  // namespace framework
