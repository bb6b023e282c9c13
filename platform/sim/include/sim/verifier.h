// The verifier's report: every kernel routine checks its contract, and a
// violation produces a bug-check-style report. By default the report is printed
// and the process stops; a test can install a handler to capture it instead
// (the faulty call then returns as harmlessly as it can).
#pragma once

#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/types.h"

namespace sim {

enum class Rule {
    // IRQL rules
    WaitAtRaisedIrql,
    SpinLockAboveDispatch,
    SpinLockBelowDispatch,
    ReleaseAtWrongIrql,
    IrqlChangeInvalid,
    PagedPoolAtDispatch,
    RoutineAtRaisedIrql,
    DpcReturnedRaised,
    WorkItemReturnedRaised,
    // IRP rules
    IrpCompletedTwice,
    CompletedWithCancelRoutine,
    CompletedWithPending,
    PendingNotMarked,
    AsyncCompletionNotMarked,
    IrpUsedAfterFree,
    StackLocationOverflow,
    // Object and pool misuse
    BadPoolCaller,
    WorkItemMisuse,
    // Resource rules (test end or unload)
    PoolLeak,
    IrpLeak,
    WorkItemLeak,
    DpcStillQueued,
    TimerStillSet,
    DeviceLeak,
    SymbolicLinkLeak,
    ResourceLeak,
    // Lock rules
    LockNotHeld,
    RecursiveLock,
    LockOrderInversion,
    // Watchdog
    Deadlock,
    BusyTimerLoop,
    UnhandledException,
};

[[nodiscard]] const char* RuleName(Rule rule);

struct BugCheckReport {
    Rule rule;
    ULONG code;  // the platform's bug-check code for this kind of fault
    ULONG_PTR parameters[4];
    std::string routine;  // the kernel routine that found the fault
    std::string message;
    std::string thread;
    KIRQL irql;
    const void* irp;
    const void* device;
    // The report as printed: code, parameters, thread, IRQL, IRP, device, text.
    [[nodiscard]] std::string Format() const;
};

using BugCheckHandler = std::function<void(const BugCheckReport&)>;

// Installs a handler (an empty one restores the default); returns the previous.
BugCheckHandler SetBugCheckHandler(BugCheckHandler handler);

// Collects reports instead of stopping, for the lifetime of the object.
class BugCheckCapture {
  public:
    BugCheckCapture();
    ~BugCheckCapture();
    BugCheckCapture(const BugCheckCapture&) = delete;
    BugCheckCapture& operator=(const BugCheckCapture&) = delete;

    [[nodiscard]] std::vector<BugCheckReport> Reports() const;
    [[nodiscard]] bool Saw(Rule rule) const;
    [[nodiscard]] size_t Count(Rule rule) const;
    // Called with each report after it was stored (outside the kernel's locks).
    void OnReport(std::function<void(const BugCheckReport&)> callback);

  private:
    mutable std::mutex mutex_;
    std::vector<BugCheckReport> reports_;
    std::function<void(const BugCheckReport&)> callback_;
    BugCheckHandler previous_;
};

// Runs the resource rules now: pool, IRPs, work items, DPCs, timers, device
// objects, symbolic links and every registered resource check; each leftover is
// reported. Returns the number of reports.
size_t VerifyNoLeaks();

}  // namespace sim
