#include "framework/driver_globals.h"

namespace framework {

ULONG OsLevel = 7;
bool IsLegacyOs = false;
PDRIVER_OBJECT TheDriverObject = nullptr;

}  // namespace framework
