// Deferred procedure calls: one queue and one thread per simulated processor.
#include <algorithm>

#include "internal/dispatcher.h"
#include "internal/verifier.h"

using kernel::internal::CurrentThread;
using kernel::internal::Dispatcher;

void KeInitializeDpc(PRKDPC dpc, PKDEFERRED_ROUTINE deferredRoutine, PVOID deferredContext) {
    dpc->Type = 0x13;
    dpc->Importance = MediumImportance;
    dpc->Number = 0;
    dpc->DpcListEntry.Flink = dpc->DpcListEntry.Blink = nullptr;
    dpc->DeferredRoutine = deferredRoutine;
    dpc->DeferredContext = deferredContext;
    dpc->SystemArgument1 = dpc->SystemArgument2 = nullptr;
    dpc->DpcData = nullptr;
}

BOOLEAN KeInsertQueueDpc(PRKDPC dpc, PVOID systemArgument1, PVOID systemArgument2) {
    KTHREAD* thread = CurrentThread();
    auto& dispatcher = Dispatcher::Instance();
    std::lock_guard lock(dispatcher.mutex);
    return dispatcher.QueueDpc(dpc, systemArgument1, systemArgument2, thread->processor) ? TRUE
                                                                                         : FALSE;
}

BOOLEAN KeRemoveQueueDpc(PRKDPC dpc) {
    auto& dispatcher = Dispatcher::Instance();
    CurrentThread();
    std::lock_guard lock(dispatcher.mutex);
    return dispatcher.RemoveDpc(dpc) ? TRUE : FALSE;
}

void KeSetImportanceDpc(PRKDPC dpc, KDPC_IMPORTANCE importance) {
    dpc->Importance = static_cast<UCHAR>(importance);
}

void KeSetTargetProcessorDpc(PRKDPC dpc, CCHAR number) {
    dpc->Number = static_cast<USHORT>(static_cast<UCHAR>(number) + 1);
}

void KeFlushQueuedDpcs() {
    kernel::internal::RequireIrqlAtMost(PASSIVE_LEVEL, "KeFlushQueuedDpcs");
    KTHREAD* thread = CurrentThread();
    auto& dispatcher = Dispatcher::Instance();
    std::unique_lock lock(dispatcher.mutex);
    const auto busy = [&] {
        return std::any_of(dispatcher.dpcQueues.begin(), dispatcher.dpcQueues.end(),
                           [](const auto& queue) { return !queue.empty(); }) ||
               std::any_of(dispatcher.dpcRunning.begin(), dispatcher.dpcRunning.end(),
                           [](bool running) { return running; });
    };
    while (busy()) {
        thread->flushingDpcs = true;
        thread->waitWhat = "queued DPCs to finish";
        dispatcher.Block(lock, thread);
        thread->flushingDpcs = false;
    }
}
