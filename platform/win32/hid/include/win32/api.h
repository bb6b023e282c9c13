// The simulated user-mode platform as one include: what <windows.h>,
// <setupapi.h>, <hidsdi.h>, <hidpi.h>, <oleauto.h> and <olectl.h> give a
// Windows build.
#pragma once

#include "win32/automation.h"
#include "win32/com.h"
#include "win32/hid.h"
#include "win32/kernel32.h"
#include "win32/registry.h"
#include "win32/setupapi.h"
#include "win32/types.h"
