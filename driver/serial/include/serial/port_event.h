// What the port event engine takes (PortEvent) and what it defers (PortAction).
#pragma once

#include <wdm.h>

namespace serial {

// Something that happened to a port: which things (flags, processed in the
// order below), the status for the requests they end, and an information value
// (Information for those requests, or a count or a time for the timing flags).
struct PortEvent {
    static constexpr ULONG kReadEnds = 0x00001;
    static constexpr ULONG kXoffCounterExpired = 0x00080;
    static constexpr ULONG kWriteEnds = 0x00002;
    static constexpr ULONG kWaitEnds = 0x00004;
    static constexpr ULONG kStartIntervalTiming = 0x00008;
    static constexpr ULONG kIntervalExpired = 0x00010;
    static constexpr ULONG kImmediateCharEnds = 0x00020;
    static constexpr ULONG kStartXoffCounterTimer = 0x00040;
    static constexpr ULONG kDrainExpired = 0x00100;
    static constexpr ULONG kCloseDrained = 0x00200;
    static constexpr ULONG kStartDrainWait = 0x00400;        // information: character times
    static constexpr ULONG kStartReadTotalTimer = 0x00800;   // information: ms
    static constexpr ULONG kStartWriteTotalTimer = 0x01000;  // information: ms
    static constexpr ULONG kFlushDrained = 0x02000;
    // Reserved for the port's own idle timer (FilterEvent).
    static constexpr ULONG kIdleTimer = 0x80000000;

    ULONG flags = 0;
    NTSTATUS status = STATUS_SUCCESS;
    ULONG information = 0;
};

// Deferred work, carried out by the action runner at PASSIVE_LEVEL without the
// port lock.
struct PortAction {
    static constexpr ULONG kCompleteRead = 1;
    static constexpr ULONG kCompleteWrite = 2;
    static constexpr ULONG kCompleteWait = 4;
    static constexpr ULONG kSetIntervalTimer = 8;
    static constexpr ULONG kEndInterval = 16;
    static constexpr ULONG kCompleteImmediateChar = 32;
    static constexpr ULONG kSetXoffCounterTimer = 64;
    static constexpr ULONG kSignalClose = 512;
    static constexpr ULONG kSetDrainTimer = 1024;
    static constexpr ULONG kSetReadTotalTimer = 2048;
    static constexpr ULONG kSetWriteTotalTimer = 4096;
    static constexpr ULONG kCompleteFlush = 8192;

    LIST_ENTRY link;
    ULONG type = 0;
    PIRP irp = nullptr;
    LONGLONG dueTime = 0;  // negative relative, positive absolute, 0 none
    bool pending = false;  // on the pending list (reserve records only)
    ULONG sequence = 0;    // posting order
};

}  // namespace serial
