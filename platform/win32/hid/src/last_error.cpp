// The calling thread's last error.
#include "win32/kernel32.h"

namespace {
thread_local DWORD lastError = ERROR_SUCCESS;
}

EXTERN_C DWORD WINAPI GetLastError() {
    return lastError;
}
EXTERN_C void WINAPI SetLastError(DWORD error) {
    lastError = error;
}
