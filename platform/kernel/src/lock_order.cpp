// Lock rules: recursion, release of a lock not held, and lock-order inversions.
// Every acquisition while other locks are held records "held before acquired"
// edges; acquiring a lock from which a held lock is reachable is an inversion.
#include <algorithm>
#include <map>
#include <mutex>
#include <set>
#include <sstream>

#include "internal/dispatcher.h"
#include "internal/verifier.h"

namespace kernel::internal {
namespace {

struct LockOrderGraph {
    std::mutex mutex;
    std::map<const void*, std::set<const void*>> after;  // lock -> locks taken while it was held

    bool Reaches(const void* from, const void* to) const {
        std::vector<const void*> pending{from};
        std::set<const void*> seen;
        while (!pending.empty()) {
            const void* lock = pending.back();
            pending.pop_back();
            if (lock == to) return true;
            if (!seen.insert(lock).second) continue;
            auto found = after.find(lock);
            if (found == after.end()) continue;
            pending.insert(pending.end(), found->second.begin(), found->second.end());
        }
        return false;
    }
};

LockOrderGraph& Graph() {
    static LockOrderGraph graph;
    return graph;
}

}  // namespace

bool NoteLockAcquiring(const void* lock, const char* routine) {
    KTHREAD* thread = CurrentThread();
    auto& held = thread->heldLocks;
    if (std::find(held.begin(), held.end(), lock) != held.end()) {
        Violation violation{sim::Rule::RecursiveLock, bugcheck::SPIN_LOCK_ALREADY_OWNED};
        violation.parameters[0] = reinterpret_cast<ULONG_PTR>(lock);
        violation.routine = routine;
        violation.message = "the current thread already holds this lock";
        Report(violation);
        return false;
    }
    const void* inverted = nullptr;
    {
        auto& graph = Graph();
        std::lock_guard guard(graph.mutex);
        for (const void* earlier : held) {
            if (graph.Reaches(lock, earlier)) {
                inverted = earlier;
                break;
            }
        }
        if (inverted == nullptr) {
            for (const void* earlier : held) graph.after[earlier].insert(lock);
        }
    }
    if (inverted != nullptr) {
        Violation violation{sim::Rule::LockOrderInversion,
                            bugcheck::DRIVER_VERIFIER_DETECTED_VIOLATION};
        violation.parameters[0] = 0x1001;
        violation.parameters[1] = reinterpret_cast<ULONG_PTR>(lock);
        violation.parameters[2] = reinterpret_cast<ULONG_PTR>(inverted);
        violation.routine = routine;
        std::ostringstream text;
        text << "lock " << lock << " acquired while holding " << inverted
             << ", but it was earlier held while acquiring that lock";
        violation.message = text.str();
        Report(violation);
    }
    return true;
}

void NoteLockAcquired(const void* lock) {
    CurrentThread()->heldLocks.push_back(lock);
}

bool NoteLockReleased(const void* lock) {
    auto& held = CurrentThread()->heldLocks;
    auto found = std::find(held.begin(), held.end(), lock);
    if (found == held.end()) return false;
    held.erase(found);
    return true;
}

void ForgetLocksIn(const void* begin, size_t size) {
    const auto* first = static_cast<const char*>(begin);
    const auto* last = first + size;
    auto inside = [&](const void* lock) {
        const auto* address = static_cast<const char*>(lock);
        return address >= first && address < last;
    };
    auto& graph = Graph();
    std::lock_guard guard(graph.mutex);
    for (auto entry = graph.after.begin(); entry != graph.after.end();) {
        if (inside(entry->first)) {
            entry = graph.after.erase(entry);
            continue;
        }
        std::erase_if(entry->second, inside);
        ++entry;
    }
}

void ForgetAllLockOrders() {
    auto& graph = Graph();
    std::lock_guard guard(graph.mutex);
    graph.after.clear();
}

}  // namespace kernel::internal
