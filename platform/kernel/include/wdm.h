// The driver-facing umbrella header of the simulated platform: the WDM types,
// status codes and routines a driver includes. Serial definitions come
// separately from kernel/ntddser.h.
#pragma once

#include "kernel/ex.h"
#include "kernel/io.h"
#include "kernel/ke.h"
#include "kernel/mm.h"
#include "kernel/ntstatus.h"
#include "kernel/types.h"
#if __has_include("kernel/rtl.h")
#include "kernel/rtl.h"
#endif
#if __has_include("kernel/registry.h")
#include "kernel/registry.h"
#endif
