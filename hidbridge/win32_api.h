// The platform interfaces hidbridge uses: the real Windows headers on Windows,
// the simulated platform's declarations elsewhere. The only place where the
// two builds differ.
#pragma once

#ifdef _WIN32
// <windows.h> comes first: the others build on its types.
#include <windows.h>

#include <ole2.h>
#include <oleauto.h>
#include <olectl.h>
#include <setupapi.h>
// The HID client header (it brings <hidusage.h> and <hidpi.h>), wrapped for
// C linkage, which not every edition of it declares.
extern "C" {
#include <hidsdi.h>
}
// DllMain is found through the image's entry point; the exports are named in
// hidbridge32.def and hidbridge64.def.
#define HIDBRIDGE_DLLMAIN extern "C" BOOL WINAPI
#else
#include "win32/api.h"
// The simulated loader finds DllMain by its exported name.
#define HIDBRIDGE_DLLMAIN extern "C" __attribute__((visibility("default"))) BOOL WINAPI
#endif
