// The verifier's report path: formatting, the replaceable handler and capture.
#include "internal/verifier.h"

#include <cstdio>
#include <cstdlib>
#include <sstream>

#include "internal/dispatcher.h"
#include "internal/irp_log.h"

namespace sim {

const char* RuleName(Rule rule) {
    switch (rule) {
        case Rule::WaitAtRaisedIrql:
            return "wait with a time-out above APC_LEVEL";
        case Rule::SpinLockAboveDispatch:
            return "spin lock acquired above DISPATCH_LEVEL";
        case Rule::SpinLockBelowDispatch:
            return "DPC-level spin lock call below DISPATCH_LEVEL";
        case Rule::ReleaseAtWrongIrql:
            return "lock released at the wrong IRQL";
        case Rule::IrqlChangeInvalid:
            return "invalid IRQL raise or lower";
        case Rule::PagedPoolAtDispatch:
            return "paged pool at DISPATCH_LEVEL";
        case Rule::RoutineAtRaisedIrql:
            return "routine called above its IRQL";
        case Rule::DpcReturnedRaised:
            return "DPC returned at a changed IRQL or holding a lock";
        case Rule::WorkItemReturnedRaised:
            return "work item returned at a raised IRQL, holding a lock or in a critical region";
        case Rule::IrpCompletedTwice:
            return "IRP completed twice";
        case Rule::CompletedWithCancelRoutine:
            return "IRP completed with a cancel routine set";
        case Rule::CompletedWithPending:
            return "IRP completed with STATUS_PENDING";
        case Rule::PendingNotMarked:
            return "STATUS_PENDING returned without IoMarkIrpPending";
        case Rule::AsyncCompletionNotMarked:
            return "IRP completed asynchronously without IoMarkIrpPending";
        case Rule::IrpUsedAfterFree:
            return "IRP used after it was freed";
        case Rule::StackLocationOverflow:
            return "no more IRP stack locations";
        case Rule::BadPoolCaller:
            return "bad pool call";
        case Rule::WorkItemMisuse:
            return "work item misused";
        case Rule::PoolLeak:
            return "pool still allocated";
        case Rule::IrpLeak:
            return "IRP still allocated";
        case Rule::WorkItemLeak:
            return "work item still allocated or queued";
        case Rule::DpcStillQueued:
            return "DPC still queued";
        case Rule::TimerStillSet:
            return "timer still set";
        case Rule::DeviceLeak:
            return "device object not deleted";
        case Rule::SymbolicLinkLeak:
            return "symbolic link not deleted";
        case Rule::ResourceLeak:
            return "resource still open";
        case Rule::LockNotHeld:
            return "lock released that is not held";
        case Rule::RecursiveLock:
            return "lock acquired recursively";
        case Rule::LockOrderInversion:
            return "lock-order inversion";
        case Rule::Deadlock:
            return "deadlock";
        case Rule::BusyTimerLoop:
            return "timer re-armed without time moving";
        case Rule::UnhandledException:
            return "unhandled status exception";
    }
    return "?";
}

std::string BugCheckReport::Format() const {
    std::ostringstream out;
    char code_text[64];
    std::snprintf(code_text, sizeof code_text, "0x%08X", static_cast<unsigned>(code));
    out << "*** BUG CHECK " << code_text << " (" << RuleName(rule) << ")\n";
    for (int i = 0; i < 4; ++i) {
        char parameter[64];
        std::snprintf(parameter, sizeof parameter, "  parameter %d: 0x%llx\n", i + 1,
                      static_cast<unsigned long long>(parameters[i]));
        out << parameter;
    }
    out << "  routine: " << routine << "\n  thread: " << thread
        << "\n  IRQL: " << static_cast<int>(irql) << "\n  IRP: " << irp << "\n  device: " << device
        << "\n  " << message << "\n";
    return out.str();
}

namespace {

struct HandlerSlot {
    std::mutex mutex;
    BugCheckHandler handler;
};

HandlerSlot& Slot() {
    static HandlerSlot slot;
    return slot;
}

void DefaultHandler(const BugCheckReport& report) {
    std::fprintf(stderr, "%s", report.Format().c_str());
    const std::string tail = kernel::internal::IrpLog::Instance().Tail(20);
    if (!tail.empty()) std::fprintf(stderr, "IRP log (latest last):\n%s", tail.c_str());
    std::fflush(stderr);
    std::abort();
}

}  // namespace

BugCheckHandler SetBugCheckHandler(BugCheckHandler handler) {
    auto& slot = Slot();
    std::lock_guard guard(slot.mutex);
    auto previous = std::move(slot.handler);
    slot.handler = std::move(handler);
    return previous;
}

BugCheckCapture::BugCheckCapture() {
    previous_ = SetBugCheckHandler([this](const BugCheckReport& report) {
        std::function<void(const BugCheckReport&)> callback;
        {
            std::lock_guard guard(mutex_);
            reports_.push_back(report);
            callback = callback_;
        }
        if (callback) callback(report);
    });
}

BugCheckCapture::~BugCheckCapture() {
    SetBugCheckHandler(std::move(previous_));
}

std::vector<BugCheckReport> BugCheckCapture::Reports() const {
    std::lock_guard guard(mutex_);
    return reports_;
}

bool BugCheckCapture::Saw(Rule rule) const {
    return Count(rule) != 0;
}

size_t BugCheckCapture::Count(Rule rule) const {
    std::lock_guard guard(mutex_);
    size_t count = 0;
    for (const auto& report : reports_) count += report.rule == rule ? 1 : 0;
    return count;
}

void BugCheckCapture::OnReport(std::function<void(const BugCheckReport&)> callback) {
    std::lock_guard guard(mutex_);
    callback_ = std::move(callback);
}

}  // namespace sim

namespace kernel::internal {

sim::BugCheckReport MakeReport(const Violation& violation) {
    KTHREAD* thread = CurrentThread();
    sim::BugCheckReport report{};
    report.rule = violation.rule;
    report.code = violation.code;
    for (int i = 0; i < 4; ++i) report.parameters[i] = violation.parameters[i];
    report.routine = violation.routine;
    report.message = violation.message;
    report.thread = thread->name;
    report.irql = thread->irql;
    report.irp = violation.irp;
    report.device = violation.device;
    return report;
}

void Deliver(const sim::BugCheckReport& report) {
    sim::BugCheckHandler handler;
    {
        auto& slot = sim::Slot();
        std::lock_guard guard(slot.mutex);
        handler = slot.handler;
    }
    if (handler) {
        handler(report);
    } else {
        sim::DefaultHandler(report);
    }
}

bool RequireIrqlAtMost(KIRQL maximum, const char* routine) {
    const KIRQL irql = CurrentThread()->irql;
    if (irql <= maximum) return true;
    Violation violation{sim::Rule::RoutineAtRaisedIrql, bugcheck::IRQL_NOT_LESS_OR_EQUAL};
    violation.parameters[0] = irql;
    violation.parameters[1] = maximum;
    violation.routine = routine;
    violation.message = std::string(routine) + " needs IRQL <= " + std::to_string(maximum);
    Report(violation);
    return false;
}

}  // namespace kernel::internal
