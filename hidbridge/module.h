// The server module's state: its handle (from DllMain) and the counts of live
// objects and server locks that DllCanUnloadNow answers from.
#pragma once

#include "win32_api.h"

namespace hidbridge {

HMODULE ModuleHandle();
void ObjectCreated();
void ObjectDestroyed();
void LockModule();
void UnlockModule();
bool ModuleInUse();

}  // namespace hidbridge
