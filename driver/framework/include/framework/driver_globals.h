// Driver-wide facts the entry point establishes and the helpers consult.
#pragma once

#include <wdm.h>

namespace framework {

// Generation number of the running system (0 to 7, no 3) and whether it predates
// WDM 1.10. Set once by the entry point before any device exists.
extern ULONG OsLevel;
extern bool IsLegacyOs;

// The driver object the entry point received; work items created without a
// device object run on behalf of its first device object.
extern PDRIVER_OBJECT TheDriverObject;

}  // namespace framework
