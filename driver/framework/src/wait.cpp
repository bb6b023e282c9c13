#include "framework/wait.h"

#include "framework/driver_globals.h"

namespace framework {
namespace {

// What some early systems answer for an interrupted wait.
constexpr NTSTATUS kLegacyRestartWait = -1;

}  // namespace

bool Wait(PKEVENT event, ULONG milliseconds) {
    const KIRQL entryIrql = KeGetCurrentIrql();
    LARGE_INTEGER timeout;
    timeout.QuadPart = -static_cast<LONGLONG>(milliseconds) * 10000;
    PLARGE_INTEGER limit = milliseconds == 0 ? nullptr : &timeout;
    NTSTATUS status = KeWaitForSingleObject(event, Executive, KernelMode, FALSE, limit);
    if (IsLegacyOs) {
        while (status == kLegacyRestartWait) {
            status = KeWaitForSingleObject(event, Executive, KernelMode, FALSE, limit);
        }
        if (KeGetCurrentIrql() > entryIrql) KfLowerIrql(entryIrql);
    }
    return status == STATUS_SUCCESS;
}

}  // namespace framework
