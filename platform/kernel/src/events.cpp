// Events and waits on dispatcher objects.
#include "internal/dispatcher.h"
#include "internal/verifier.h"

namespace {

using kernel::internal::CurrentThread;
using kernel::internal::Dispatcher;

const char* DescribeObject(const DISPATCHER_HEADER* header) {
    switch (header->Type) {
        case 0:
            return "notification event";
        case 1:
            return "synchronization event";
        case 8:
            return "notification timer";
        case 9:
            return "synchronization timer";
        default:
            return "dispatcher object";
    }
}

// Converts a wait's time-out into an interrupt time; empty means "none".
std::optional<ULONGLONG> DueTime(const Dispatcher& dispatcher, const LARGE_INTEGER* timeout) {
    if (timeout == nullptr) return std::nullopt;
    if (timeout->QuadPart < 0) {
        return dispatcher.interruptTime + static_cast<ULONGLONG>(-timeout->QuadPart);
    }
    const auto absolute = static_cast<ULONGLONG>(timeout->QuadPart);
    return absolute > kernel::internal::kBootSystemTime
               ? absolute - kernel::internal::kBootSystemTime
               : 0;
}

bool CheckWaitIrql(KTHREAD* thread, const LARGE_INTEGER* timeout, const char* routine) {
    const bool zero = timeout != nullptr && timeout->QuadPart == 0;
    const KIRQL limit = zero ? DISPATCH_LEVEL : APC_LEVEL;
    if (thread->irql <= limit) return true;
    kernel::internal::Violation violation{sim::Rule::WaitAtRaisedIrql,
                                          kernel::internal::bugcheck::IRQL_NOT_LESS_OR_EQUAL};
    violation.parameters[0] = thread->irql;
    violation.parameters[1] = limit;
    violation.routine = routine;
    violation.message =
        zero ? "a wait above DISPATCH_LEVEL" : "a wait with a non-zero time-out above APC_LEVEL";
    kernel::internal::Report(violation);
    return false;
}

}  // namespace

void KeInitializeEvent(PRKEVENT event, EVENT_TYPE type, BOOLEAN state) {
    event->Header.Type = type == SynchronizationEvent ? 1 : 0;
    event->Header.Absolute = 0;
    event->Header.Size = sizeof(KEVENT);
    event->Header.Inserted = 0;
    event->Header.SignalState = state ? 1 : 0;
    InitializeListHead(&event->Header.WaitListHead);
}

LONG KeSetEvent(PRKEVENT event, KPRIORITY, BOOLEAN) {
    kernel::internal::RequireIrqlAtMost(DISPATCH_LEVEL, "KeSetEvent");
    auto& dispatcher = Dispatcher::Instance();
    CurrentThread();
    std::lock_guard lock(dispatcher.mutex);
    const LONG previous = event->Header.SignalState;
    event->Header.SignalState = 1;
    dispatcher.SignalObject(&event->Header);
    return previous;
}

void KeClearEvent(PRKEVENT event) {
    KeResetEvent(event);
}

LONG KeResetEvent(PRKEVENT event) {
    auto& dispatcher = Dispatcher::Instance();
    CurrentThread();
    std::lock_guard lock(dispatcher.mutex);
    const LONG previous = event->Header.SignalState;
    event->Header.SignalState = 0;
    return previous;
}

LONG KeReadStateEvent(PRKEVENT event) {
    auto& dispatcher = Dispatcher::Instance();
    CurrentThread();
    std::lock_guard lock(dispatcher.mutex);
    return event->Header.SignalState;
}

NTSTATUS KeWaitForSingleObject(PVOID object, KWAIT_REASON, KPROCESSOR_MODE, BOOLEAN,
                               PLARGE_INTEGER timeout) {
    KTHREAD* thread = CurrentThread();
    LARGE_INTEGER poll{};
    // After a reported IRQL fault the wait only polls, so the faulty caller cannot
    // block a DPC or hold a spin lock across a sleep.
    if (!CheckWaitIrql(thread, timeout, "KeWaitForSingleObject")) timeout = &poll;
    auto& dispatcher = Dispatcher::Instance();
    auto* header = static_cast<DISPATCHER_HEADER*>(object);
    std::unique_lock lock(dispatcher.mutex);
    if (header->SignalState > 0) {
        if (header->Type == 1 || header->Type == 9) header->SignalState = 0;
        return STATUS_SUCCESS;
    }
    const auto due = DueTime(dispatcher, timeout);
    if (due && *due <= dispatcher.TickTime()) return STATUS_TIMEOUT;
    thread->waitObject = header;
    thread->waitDue = due;
    thread->waitWhat = DescribeObject(header);
    return dispatcher.Block(lock, thread);
}

NTSTATUS KeDelayExecutionThread(KPROCESSOR_MODE, BOOLEAN, PLARGE_INTEGER interval) {
    KTHREAD* thread = CurrentThread();
    if (interval == nullptr || !CheckWaitIrql(thread, interval, "KeDelayExecutionThread")) {
        return STATUS_SUCCESS;
    }
    auto& dispatcher = Dispatcher::Instance();
    std::unique_lock lock(dispatcher.mutex);
    const auto due = DueTime(dispatcher, interval);
    if (!due || *due <= dispatcher.TickTime()) return STATUS_SUCCESS;
    thread->waitObject = nullptr;
    thread->waitDue = due;
    thread->waitWhat = "a delay";
    dispatcher.Block(lock, thread);
    return STATUS_SUCCESS;
}
