// Simulated threads, blocking, idle detection and the virtual clock.
#include "internal/dispatcher.h"

#include <algorithm>
#include <sstream>

#include "internal/verifier.h"
#include "kernel/ex.h"

namespace kernel::internal {
namespace {

// The current thread's record. Application threads own theirs and unregister
// when they end; system threads bind the record their creator made.
struct ThreadSlot {
    KTHREAD* thread = nullptr;
    bool owned = false;
    ~ThreadSlot() {
        if (owned && thread != nullptr) {
            Dispatcher::Instance().Unregister(thread);
            delete thread;
        }
    }
};

thread_local ThreadSlot currentSlot;
std::uint64_t applicationThreadCount = 0;  // guarded by the dispatcher lock

bool IsSynchronizationObject(const DISPATCHER_HEADER* header) {
    return header->Type == 1 || header->Type == 9;
}

}  // namespace

Dispatcher& Dispatcher::Instance() {
    // Never destroyed: system threads stay blocked in it until the process ends.
    static Dispatcher* dispatcher = new Dispatcher;
    return *dispatcher;
}

KTHREAD* CurrentThreadIfKnown() {
    return currentSlot.thread;
}

KTHREAD* CurrentThread() {
    if (currentSlot.thread == nullptr) {
        auto* thread = new KTHREAD;
        thread->kind = KTHREAD::Kind::Application;
        currentSlot.thread = thread;
        currentSlot.owned = true;
        Dispatcher::Instance().Register(thread);
    }
    return currentSlot.thread;
}

KTHREAD* PrepareApplicationThread() {
    auto* thread = new KTHREAD;
    thread->kind = KTHREAD::Kind::Application;
    Dispatcher::Instance().Register(thread);
    return thread;
}

void AdoptApplicationThread(KTHREAD* thread) {
    currentSlot.thread = thread;
    currentSlot.owned = true;
}

// ---- threads ------------------------------------------------------------------

void Dispatcher::Register(KTHREAD* thread) {
    std::unique_lock lock(mutex);
    if (!started_) StartLocked();
    thread->name = "application thread " + std::to_string(++applicationThreadCount);
    thread->processor = static_cast<ULONG>(nextProcessor_++ % kProcessors);
    threads.push_back(thread);
    ++running;
}

void Dispatcher::Unregister(KTHREAD* thread) {
    std::unique_lock lock(mutex);
    std::erase(threads, thread);
    --running;
    if (running == 0) OnIdle();
    DeliverPendingReport(lock);
}

NTSTATUS Dispatcher::Block(std::unique_lock<std::mutex>& lock, KTHREAD* thread) {
    thread->blocked = true;
    thread->satisfied = false;
    thread->waitSequence = nextWaitSequence++;
    --running;
    if (running == 0) OnIdle();
    DeliverPendingReport(lock);
    while (!thread->satisfied) {
        thread->wakeup.wait(lock);
        DeliverPendingReport(lock);
    }
    thread->waitObject = nullptr;
    thread->waitDue.reset();
    thread->waitWhat.clear();
    return thread->waitResult;
}

void Dispatcher::Wake(KTHREAD* thread, NTSTATUS result) {
    if (!thread->blocked) return;
    thread->blocked = false;
    thread->satisfied = true;
    thread->waitResult = result;
    ++running;
    deadlockReported = false;
    thread->wakeup.notify_one();
}

void Dispatcher::DeliverPendingReport(std::unique_lock<std::mutex>& lock) {
    while (pendingReport) {
        sim::BugCheckReport report = std::move(*pendingReport);
        pendingReport.reset();
        lock.unlock();
        Deliver(report);
        lock.lock();
    }
}

// ---- clock --------------------------------------------------------------------

std::optional<ULONGLONG> Dispatcher::NextDue() const {
    std::optional<ULONGLONG> due;
    if (!timerQueue.empty()) due = timerQueue.begin()->first.due;
    for (const KTHREAD* thread : threads) {
        if (thread->blocked && thread->waitDue && (!due || *thread->waitDue < *due)) {
            due = thread->waitDue;
        }
    }
    return due;
}

void Dispatcher::SetClock(ULONGLONG time) {
    if (time > interruptTime) interruptTime = time;
    const ULONGLONG tick = TickTime();
    while (!timerQueue.empty() && timerQueue.begin()->first.due <= tick) {
        KTIMER* timer = timerQueue.begin()->second;
        timerQueue.erase(timerQueue.begin());
        timerKeys.erase(timer);
        ExpireTimer(timer);
    }
    for (KTHREAD* thread : threads) {
        if (thread->blocked && thread->waitDue && *thread->waitDue <= tick) {
            Wake(thread, STATUS_TIMEOUT);
        }
    }
}

// ---- dispatcher objects -------------------------------------------------------

void Dispatcher::SignalObject(DISPATCHER_HEADER* header) {
    if (header->SignalState <= 0) return;
    std::vector<KTHREAD*> waiters;
    for (KTHREAD* thread : threads) {
        if (thread->blocked && thread->waitObject == header) waiters.push_back(thread);
    }
    std::sort(waiters.begin(), waiters.end(),
              [](const KTHREAD* a, const KTHREAD* b) { return a->waitSequence < b->waitSequence; });
    for (KTHREAD* waiter : waiters) {
        if (header->SignalState <= 0) break;
        if (IsSynchronizationObject(header)) header->SignalState = 0;
        Wake(waiter, STATUS_SUCCESS);
    }
}

// ---- idle handling ------------------------------------------------------------

void Dispatcher::OnIdle() {
    for (;;) {
        if (settleWaiters > 0) {
            for (KTHREAD* thread : threads) {
                if (thread->settling && thread->blocked) Wake(thread, STATUS_SUCCESS);
            }
            return;
        }
        if (autoAdvance) {
            if (auto due = NextDue()) {
                SetClock(NextTickAtOrAfter(*due));
                if (running > 0) return;
                continue;
            }
        }
        break;
    }
    const bool applicationWaiting =
        std::any_of(threads.begin(), threads.end(), [](const KTHREAD* thread) {
            // A thread waiting outside the kernel (sim::WaitingForSystem) is woken by
            // something the kernel does not see, so it alone is no deadlock.
            return thread->kind == KTHREAD::Kind::Application && thread->blocked &&
                   !thread->waitingOutside;
        });
    if (!applicationWaiting || deadlockReported) return;
    deadlockReported = true;
    Violation violation{sim::Rule::Deadlock, bugcheck::MANUALLY_INITIATED_CRASH};
    violation.routine = "watchdog";
    violation.message =
        std::string("the system is idle and nothing can wake the waiting threads") +
        (autoAdvance ? " (no timer or timed wait is due)" : " (auto-advance is off)") + "\n" +
        DescribeBlockedThreads();
    pendingReport = MakeReport(violation);
}

std::string Dispatcher::DescribeBlockedThreads() const {
    std::ostringstream out;
    for (const KTHREAD* thread : threads) {
        if (!thread->blocked) continue;
        if (thread->kind != KTHREAD::Kind::Application && thread->waitObject == nullptr &&
            !thread->waitDue) {
            continue;  // an idle system thread
        }
        out << "    " << thread->name << " waits for " << thread->waitWhat;
        if (thread->waitObject != nullptr) out << " " << thread->waitObject;
        if (thread->waitDue) out << " until " << *thread->waitDue;
        out << "\n";
    }
    return out.str();
}

void Dispatcher::Settle() {
    KTHREAD* thread = CurrentThread();
    std::unique_lock lock(mutex);
    thread->settling = true;
    thread->waitWhat = "the system to settle";
    ++settleWaiters;
    Block(lock, thread);
    --settleWaiters;
    thread->settling = false;
}

// ---- system threads -----------------------------------------------------------

namespace {

void BindSystemThread(KTHREAD* thread) {
    currentSlot.thread = thread;
    currentSlot.owned = false;
}

void CheckReturnedClean(KTHREAD* thread, KIRQL expected, sim::Rule rule, const char* what,
                        const void* routine) {
    if (thread->irql == expected && thread->heldLocks.empty() && thread->criticalRegion == 0) {
        return;
    }
    Violation violation{rule, rule == sim::Rule::WorkItemReturnedRaised
                                  ? bugcheck::WORKER_THREAD_RETURNED_AT_BAD_IRQL
                                  : bugcheck::IRQL_NOT_GREATER_OR_EQUAL};
    violation.parameters[0] = reinterpret_cast<ULONG_PTR>(routine);
    violation.parameters[1] = thread->irql;
    violation.parameters[2] = thread->heldLocks.size();
    violation.parameters[3] = static_cast<ULONG_PTR>(thread->criticalRegion);
    violation.routine = what;
    violation.message = std::string(what) + " returned at IRQL " + std::to_string(thread->irql) +
                        " holding " + std::to_string(thread->heldLocks.size()) +
                        " lock(s), critical-region depth " + std::to_string(thread->criticalRegion);
    Report(violation);
    thread->irql = expected;
    thread->heldLocks.clear();
    thread->criticalRegion = 0;
}

void ReportUnhandled(NTSTATUS status, const char* where) {
    Violation violation{sim::Rule::UnhandledException, bugcheck::KMODE_EXCEPTION_NOT_HANDLED};
    violation.parameters[0] = static_cast<ULONG>(status);
    violation.routine = where;
    violation.message = "a raised status reached the top of a system thread";
    Report(violation);
}

void RunDpcProcessor(Dispatcher* dispatcher, KTHREAD* thread, ULONG processor) {
    BindSystemThread(thread);
    std::unique_lock lock(dispatcher->mutex);
    for (;;) {
        auto& queue = dispatcher->dpcQueues[processor];
        while (queue.empty() && !dispatcher->shuttingDown) {
            thread->waitWhat = "DPCs";
            dispatcher->Block(lock, thread);
        }
        if (dispatcher->shuttingDown) return;
        KDPC* dpc = queue.front();
        queue.pop_front();
        dpc->DpcData = nullptr;
        dispatcher->dpcQueuedByTimer.erase(dpc);
        const PKDEFERRED_ROUTINE routine = dpc->DeferredRoutine;
        PVOID context = dpc->DeferredContext;
        PVOID argument1 = dpc->SystemArgument1;
        PVOID argument2 = dpc->SystemArgument2;
        dispatcher->dpcRunning[processor] = true;
        lock.unlock();

        thread->irql = DISPATCH_LEVEL;
        try {
            routine(dpc, context, argument1, argument2);
        } catch (const ::kernel::StatusException& exception) {
            ReportUnhandled(exception.Status(), "DPC");
        }
        CheckReturnedClean(thread, DISPATCH_LEVEL, sim::Rule::DpcReturnedRaised, "DPC routine",
                           reinterpret_cast<const void*>(routine));
        thread->irql = PASSIVE_LEVEL;

        lock.lock();
        dispatcher->dpcRunning[processor] = false;
        const bool allIdle = std::all_of(dispatcher->dpcQueues.begin(), dispatcher->dpcQueues.end(),
                                         [](const auto& q) { return q.empty(); }) &&
                             std::none_of(dispatcher->dpcRunning.begin(),
                                          dispatcher->dpcRunning.end(), [](bool r) { return r; });
        if (allIdle) {
            for (KTHREAD* waiter : dispatcher->threads) {
                if (waiter->flushingDpcs && waiter->blocked)
                    dispatcher->Wake(waiter, STATUS_SUCCESS);
            }
        }
    }
}

void RunWorker(Dispatcher* dispatcher, KTHREAD* thread) {
    BindSystemThread(thread);
    std::unique_lock lock(dispatcher->mutex);
    for (;;) {
        while (dispatcher->workQueue.empty() && !dispatcher->shuttingDown) {
            thread->waitWhat = "work items";
            thread->waitingForWork = true;
            dispatcher->Block(lock, thread);
            thread->waitingForWork = false;
        }
        if (dispatcher->shuttingDown) return;
        WorkEntry entry = dispatcher->workQueue.front();
        dispatcher->workQueue.pop_front();
        ++dispatcher->busyWorkers;
        lock.unlock();

        thread->irql = PASSIVE_LEVEL;
        try {
            entry.run(entry.argument);
        } catch (const ::kernel::StatusException& exception) {
            ReportUnhandled(exception.Status(), "work item");
        }
        CheckReturnedClean(thread, PASSIVE_LEVEL, sim::Rule::WorkItemReturnedRaised,
                           "work item routine", entry.identity);

        lock.lock();
        --dispatcher->busyWorkers;
    }
}

}  // namespace

void Dispatcher::StartLocked() {
    started_ = true;
    // Stops and joins the system threads when the process exits, so that it ends
    // without threads still blocked inside the simulation.
    static struct Joiner {
        ~Joiner() { Dispatcher::Instance().StopSystemThreads(); }
    } joiner;
    dpcQueues.resize(kProcessors);
    dpcRunning.assign(kProcessors, false);
    for (ULONG processor = 0; processor < kProcessors; ++processor) {
        auto* thread = new KTHREAD;
        thread->kind = KTHREAD::Kind::Dpc;
        thread->name = "DPC processor " + std::to_string(processor);
        thread->processor = processor;
        threads.push_back(thread);
        dpcThreads.push_back(thread);
        ++running;
        systemThreads_.emplace_back(RunDpcProcessor, this, thread, processor);
    }
    for (int index = 0; index < kWorkers; ++index) {
        auto* thread = new KTHREAD;
        thread->kind = KTHREAD::Kind::Worker;
        thread->name = "system worker " + std::to_string(index);
        thread->processor = static_cast<ULONG>(index) % kProcessors;
        threads.push_back(thread);
        workers.push_back(thread);
        ++running;
        systemThreads_.emplace_back(RunWorker, this, thread);
    }
}

void Dispatcher::EnsureStarted() {
    CurrentThread();
}

void Dispatcher::StopSystemThreads() {
    {
        std::lock_guard lock(mutex);
        shuttingDown = true;
        for (KTHREAD* thread : dpcThreads) Wake(thread, STATUS_SUCCESS);
        for (KTHREAD* thread : workers) Wake(thread, STATUS_SUCCESS);
    }
    for (auto& thread : systemThreads_) {
        if (thread.joinable()) thread.join();
    }
    systemThreads_.clear();
}

bool Dispatcher::QueueDpc(KDPC* dpc, PVOID argument1, PVOID argument2, ULONG processor) {
    if (dpc->DpcData != nullptr) return false;
    if (dpc->Number != 0) processor = (dpc->Number - 1u) % kProcessors;
    dpc->SystemArgument1 = argument1;
    dpc->SystemArgument2 = argument2;
    auto& queue = dpcQueues[processor];
    dpc->DpcData = &queue;
    if (dpc->Importance == HighImportance) {
        queue.push_front(dpc);
    } else {
        queue.push_back(dpc);
    }
    Wake(dpcThreads[processor], STATUS_SUCCESS);
    return true;
}

bool Dispatcher::RemoveDpc(KDPC* dpc) {
    if (dpc->DpcData == nullptr) return false;
    auto* queue = static_cast<std::deque<KDPC*>*>(dpc->DpcData);
    std::erase(*queue, dpc);
    dpc->DpcData = nullptr;
    dpcQueuedByTimer.erase(dpc);
    return true;
}

void Dispatcher::QueueWork(const WorkEntry& entry) {
    workQueue.push_back(entry);
    // Only an idle worker: one blocked in a work item's own wait stays blocked.
    for (KTHREAD* worker : workers) {
        if (worker->blocked && worker->waitingForWork) {
            Wake(worker, STATUS_SUCCESS);
            break;
        }
    }
}

}  // namespace kernel::internal
