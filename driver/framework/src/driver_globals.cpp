#include "framework/driver_globals.h"

namespace framework {

ULONG OsLevel = 7;
bool IsLegacyOs = false;
PDRIVER_OBJECT TheDriverObject = nullptr;
CountedString ServiceKeyPath;
ULONG UseVirtualPorts = 1;
LONG VirtualPortCounter = -1;
ULONG FiveTicksInMilliseconds = 0;

}  // namespace framework
