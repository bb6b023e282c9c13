// Verifier internals: raising a report and the per-thread lock bookkeeping used
// by the lock rules. Kernel services call these; none may hold the dispatcher
// lock while reporting.
#pragma once

#include <string>

#include "sim/verifier.h"

namespace kernel::internal {

// Bug-check codes of the platform for the faults the verifier names.
namespace bugcheck {
constexpr ULONG IRQL_NOT_GREATER_OR_EQUAL = 0x09;
constexpr ULONG IRQL_NOT_LESS_OR_EQUAL = 0x0A;
constexpr ULONG SPIN_LOCK_ALREADY_OWNED = 0x0F;
constexpr ULONG SPIN_LOCK_NOT_OWNED = 0x10;
constexpr ULONG KMODE_EXCEPTION_NOT_HANDLED = 0x1E;
constexpr ULONG NO_MORE_IRP_STACK_LOCATIONS = 0x35;
constexpr ULONG MULTIPLE_IRP_COMPLETE_REQUESTS = 0x44;
constexpr ULONG IRQL_GT_ZERO_AT_SYSTEM_SERVICE = 0x4A;
constexpr ULONG BAD_POOL_CALLER = 0xC2;
constexpr ULONG DRIVER_VERIFIER_DETECTED_VIOLATION = 0xC4;
constexpr ULONG DRIVER_VERIFIER_IOMANAGER_VIOLATION = 0xC9;
constexpr ULONG DRIVER_UNLOADED_WITHOUT_CANCELLING_PENDING_OPERATIONS = 0xCE;
constexpr ULONG WORKER_THREAD_RETURNED_AT_BAD_IRQL = 0xE1;
constexpr ULONG MANUALLY_INITIATED_CRASH = 0xE2;
}  // namespace bugcheck

struct Violation {
    Violation(sim::Rule rule, ULONG code) : rule(rule), code(code) {}
    sim::Rule rule;
    ULONG code;
    ULONG_PTR parameters[4] = {0, 0, 0, 0};
    const char* routine = "";
    std::string message;
    const void* irp = nullptr;
    const void* device = nullptr;
};

// Adds the current thread and IRQL.
[[nodiscard]] sim::BugCheckReport MakeReport(const Violation& violation);
void Deliver(const sim::BugCheckReport& report);
inline void Report(const Violation& violation) {
    Deliver(MakeReport(violation));
}

// Reports RoutineAtRaisedIrql and returns false when the IRQL is above `maximum`.
bool RequireIrqlAtMost(KIRQL maximum, const char* routine);

// Lock bookkeeping of the current thread (spin locks, fast mutexes). Acquiring
// checks recursion and the order against every lock already held.
// Returns false (after reporting) when the thread already holds the lock.
bool NoteLockAcquiring(const void* lock, const char* routine);
void NoteLockAcquired(const void* lock);
// Returns false when the current thread does not hold the lock.
bool NoteLockReleased(const void* lock);
// Drops the lock-order history of locks in [begin, begin + size) (freed memory).
void ForgetLocksIn(const void* begin, size_t size);
void ForgetAllLockOrders();

}  // namespace kernel::internal
