// The dispatcher: simulated threads, blocking and waking, the virtual clock, the
// timer queue, the DPC queues and the system work queue, all under one lock.
// Idle detection (auto-advance, Settle, the deadlock watchdog) lives here because
// it needs a consistent view of all of them.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "kernel/ke.h"
#include "sim/verifier.h"

struct KTHREAD {
    enum class Kind { Application, Worker, Dpc };
    Kind kind = Kind::Application;
    std::string name;
    ULONG processor = 0;

    // Owned by the thread itself.
    KIRQL irql = PASSIVE_LEVEL;
    int criticalRegion = 0;
    std::vector<const void*> heldLocks;

    // Guarded by the dispatcher lock.
    bool blocked = false;
    bool satisfied = false;
    bool settling = false;
    bool flushingDpcs = false;
    bool waitingOutside = false;  // sim::WaitingForSystem: not a kernel wait
    bool waitingForWork = false;  // an idle worker, not a routine's own wait
    NTSTATUS waitResult = STATUS_SUCCESS;
    const void* waitObject = nullptr;
    std::string waitWhat;
    std::optional<ULONGLONG> waitDue;  // interrupt time of a timed wait's time-out
    std::uint64_t waitSequence = 0;
    std::condition_variable wakeup;
};

namespace kernel::internal {

// A queued unit of work for a system worker thread.
struct WorkEntry {
    void (*run)(void* argument);
    void* argument;
    const void* identity;  // the WORK_QUEUE_ITEM or IO_WORKITEM, for removal and reports
};

struct TimerKey {
    ULONGLONG due;
    std::uint64_t sequence;
    bool operator<(const TimerKey& other) const {
        return due != other.due ? due < other.due : sequence < other.sequence;
    }
};

class Dispatcher {
  public:
    static Dispatcher& Instance();

    std::mutex mutex;

    // ---- threads ----
    std::vector<KTHREAD*> threads;  // registered, i.e. counted for idleness
    int running = 0;                // registered threads that are not blocked
    std::uint64_t nextWaitSequence = 1;

    void Register(KTHREAD* thread);
    void Unregister(KTHREAD* thread);
    // Blocks the current thread until Wake; the caller holds `lock` and has set
    // the thread's wait fields. Returns the wait result.
    NTSTATUS Block(std::unique_lock<std::mutex>& lock, KTHREAD* thread);
    void Wake(KTHREAD* thread, NTSTATUS result);

    // ---- clock (100-ns units) ----
    ULONGLONG interruptTime = 0;  // precise; visible time is the latest tick
    ULONG timeIncrement = 156250;
    bool autoAdvance = false;
    [[nodiscard]] ULONGLONG TickTime() const {
        return interruptTime - interruptTime % timeIncrement;
    }
    [[nodiscard]] ULONGLONG NextTickAtOrAfter(ULONGLONG time) const {
        return (time + timeIncrement - 1) / timeIncrement * timeIncrement;
    }
    // Moves the clock to `time` (never backwards) and expires what is due.
    void SetClock(ULONGLONG time);
    [[nodiscard]] std::optional<ULONGLONG> NextDue() const;

    // ---- timers ----
    std::map<TimerKey, KTIMER*> timerQueue;
    std::map<const KTIMER*, TimerKey> timerKeys;
    std::map<const KDPC*, const KTIMER*> dpcQueuedByTimer;
    std::uint64_t nextTimerSequence = 1;
    ULONGLONG immediateExpiryTick = 0;
    std::uint64_t immediateExpiries = 0;
    bool busyLoopReported = false;
    void ExpireTimer(KTIMER* timer);
    void InsertTimer(KTIMER* timer, ULONGLONG due);
    bool RemoveTimer(const KTIMER* timer);

    // ---- dispatcher objects ----
    // Satisfies waits on `object` after its signal state changed.
    void SignalObject(DISPATCHER_HEADER* header);

    // ---- DPCs ----
    std::vector<std::deque<KDPC*>> dpcQueues;
    std::vector<KTHREAD*> dpcThreads;
    std::vector<bool> dpcRunning;
    bool QueueDpc(KDPC* dpc, PVOID argument1, PVOID argument2, ULONG processor);
    bool RemoveDpc(KDPC* dpc);

    // ---- system work queue ----
    std::deque<WorkEntry> workQueue;
    std::vector<KTHREAD*> workers;
    int busyWorkers = 0;
    void QueueWork(const WorkEntry& entry);

    // ---- idle handling ----
    int settleWaiters = 0;
    bool deadlockReported = false;
    std::optional<sim::BugCheckReport> pendingReport;  // raised outside the lock
    void OnIdle();
    void DeliverPendingReport(std::unique_lock<std::mutex>& lock);
    // Blocks the calling (application) thread until the system is idle.
    void Settle();

    // Started lazily; counts are fixed for the life of the process.
    void EnsureStarted();
    void StopSystemThreads();
    bool shuttingDown = false;
    static constexpr ULONG kProcessors = 2;
    // The critical, delayed and hypercritical queues share one FIFO served by
    // four system worker threads: enough for work items that wait on each other.
    static constexpr int kWorkers = 4;

  private:
    Dispatcher() = default;
    bool started_ = false;
    std::vector<std::thread> systemThreads_;
    std::uint64_t nextProcessor_ = 0;
    void StartLocked();
    std::string DescribeBlockedThreads() const;
};

// The current thread's record, registering an application thread on first use.
KTHREAD* CurrentThread();
// Registers an application thread's record before the thread starts, so the
// system never looks idle in between; the new thread adopts it first thing.
KTHREAD* PrepareApplicationThread();
void AdoptApplicationThread(KTHREAD* thread);
// The current thread's record if it has one (no registration).
KTHREAD* CurrentThreadIfKnown();

// Start of the simulated system time (100-ns since 1601), tick-aligned.
constexpr ULONGLONG kBootSystemTime = 133'000'000'000'000'000ULL;

}  // namespace kernel::internal
