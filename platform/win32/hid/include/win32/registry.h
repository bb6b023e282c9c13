// The user-mode registry (advapi32 Reg*A) of the simulated platform: an
// in-memory tree with key names compared without regard to case. Only the
// HKEY_CLASSES_ROOT root and REG_SZ/REG_DWORD values are modelled.
#pragma once

#include "win32/types.h"

using REGSAM = DWORD;
using LSTATUS = LONG;

#define HKEY_CLASSES_ROOT ((HKEY)(ULONG_PTR)((LONG)0x80000000))

#define KEY_QUERY_VALUE 0x0001UL
#define KEY_SET_VALUE 0x0002UL
#define KEY_CREATE_SUB_KEY 0x0004UL
#define KEY_ENUMERATE_SUB_KEYS 0x0008UL
#define KEY_READ 0x20019UL
#define KEY_WRITE 0x20006UL
#define KEY_ALL_ACCESS 0xF003FUL

#define REG_NONE 0UL
#define REG_SZ 1UL
#define REG_DWORD 4UL
#define REG_OPTION_NON_VOLATILE 0x00000000UL
#define REG_CREATED_NEW_KEY 0x00000001UL
#define REG_OPENED_EXISTING_KEY 0x00000002UL

EXTERN_C {
    LSTATUS WINAPI RegCreateKeyExA(
        HKEY key, LPCSTR subKey, DWORD reserved, LPSTR keyClass, DWORD options, REGSAM samDesired,
        const struct SECURITY_ATTRIBUTES* securityAttributes, PHKEY result, LPDWORD disposition);
    LSTATUS WINAPI RegOpenKeyExA(HKEY key, LPCSTR subKey, DWORD options, REGSAM samDesired,
                                 PHKEY result);
    // A null or empty valueName is the key's default value.
    LSTATUS WINAPI RegSetValueExA(HKEY key, LPCSTR valueName, DWORD reserved, DWORD type,
                                  const BYTE* data, DWORD dataSize);
    LSTATUS WINAPI RegQueryValueExA(HKEY key, LPCSTR valueName, LPDWORD reserved, LPDWORD type,
                                    LPBYTE data, LPDWORD dataSize);
    // Fails with ERROR_ACCESS_DENIED while the key has subkeys, as on the platform.
    LSTATUS WINAPI RegDeleteKeyA(HKEY key, LPCSTR subKey);
    LSTATUS WINAPI RegCloseKey(HKEY key);

}  // EXTERN_C
