// The IRP log: when enabled, every dispatch and completion is recorded (device,
// major/minor function or control code, status, Information). The default
// verifier report prints its tail.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "kernel/types.h"

namespace sim {

struct IrpLogEntry {
    enum class Kind { Dispatch, Completion };
    Kind kind;
    const void* device;
    const void* irp;
    UCHAR majorFunction;
    UCHAR minorFunction;
    ULONG ioControlCode;  // device-control requests only
    NTSTATUS status;      // completions only
    ULONG_PTR information;
    [[nodiscard]] std::string Format() const;
};

void EnableIrpLog(bool enable);
[[nodiscard]] std::vector<IrpLogEntry> IrpLogEntries();
// The latest `count` entries, one per line.
[[nodiscard]] std::string IrpLogTail(size_t count);
void ClearIrpLog();

}  // namespace sim
