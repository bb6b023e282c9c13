// Driver-wide facts the entry point establishes and the helpers consult.
#pragma once

#include <wdm.h>

#include "framework/counted_string.h"

namespace framework {

// Generation number of the running system (0 to 7, no 3) and whether it predates
// WDM 1.10. Set once by the entry point before any device exists.
extern ULONG OsLevel;
extern bool IsLegacyOs;

// The driver object the entry point received; work items created without a
// device object run on behalf of its first device object.
extern PDRIVER_OBJECT TheDriverObject;

// A copy of the registry path the entry point received (empty if it could not
// be copied); released at unload.
extern CountedString ServiceKeyPath;

// Nonzero (the default): each serial port device creates its alias port device.
// The service key's REG_DWORD "UseVirtualPorts" overrides it at entry.
extern ULONG UseVirtualPorts;

// Incremented atomically before use, so the first port device is numbered 0.
extern LONG VirtualPortCounter;

// The clock tick in whole milliseconds, times five; used by serial time-outs.
extern ULONG FiveTicksInMilliseconds;

}  // namespace framework
