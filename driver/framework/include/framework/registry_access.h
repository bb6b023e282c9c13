// Reading and writing the driver's registry values. Every read leaves its output
// unchanged when it fails.
#pragma once

#include <wdm.h>

#include "framework/counted_string.h"

namespace framework {

// An open key for `path` (e.g. the service key), or NULL. Close with ZwClose.
[[nodiscard]] HANDLE OpenKey(PUNICODE_STRING path, ACCESS_MASK access);
// The hardware key of a physical device object, or NULL.
[[nodiscard]] HANDLE OpenDeviceKey(PDEVICE_OBJECT physicalDevice, ACCESS_MASK access);

// A REG_DWORD, or a REG_BINARY of exactly 4 bytes. STATUS_OBJECT_NAME_NOT_FOUND
// when the value is missing or empty, STATUS_OBJECT_TYPE_MISMATCH for another
// type or size.
[[nodiscard]] NTSTATUS ReadDword(HANDLE key, const WCHAR* name, ULONG* value);
// A REG_SZ, REG_EXPAND_SZ or REG_MULTI_SZ into a new buffer of `string`.
[[nodiscard]] NTSTATUS ReadString(HANDLE key, const WCHAR* name, CountedString* string);
// REG_DWORD; the result is not reported.
void WriteDword(HANDLE key, const WCHAR* name, ULONG value);

}  // namespace framework
