// Actions the driver runs at unload, newest first: the teardown of driver-wide
// data that the entry point set up.
#pragma once

#include <wdm.h>

namespace framework {

using ExitAction = VOID (*)(PVOID context);

// Empties the list (at entry, before any action is registered).
void InitializeExitList();
// Raises STATUS_INSUFFICIENT_RESOURCES when the entry cannot be allocated.
void RegisterExitAction(ExitAction action, PVOID context);
// Runs and frees every entry, the newest first.
void RunExitList();

}  // namespace framework
