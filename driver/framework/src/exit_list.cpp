#include "framework/exit_list.h"

#include "framework/pool.h"

namespace framework {
namespace {

struct ExitEntry {
    LIST_ENTRY links;
    ExitAction action;
    PVOID context;
};

LIST_ENTRY exitList{&exitList, &exitList};
KSPIN_LOCK exitListLock = 0;

}  // namespace

void InitializeExitList() {
    InitializeListHead(&exitList);
    KeInitializeSpinLock(&exitListLock);
}

void RegisterExitAction(ExitAction action, PVOID context) {
    auto* entry = static_cast<ExitEntry*>(PoolAllocateRaising(sizeof(ExitEntry)));
    entry->action = action;
    entry->context = context;
    ExInterlockedInsertHeadList(&exitList, &entry->links, &exitListLock);
}

void RunExitList() {
    while (PLIST_ENTRY links = ExInterlockedRemoveHeadList(&exitList, &exitListLock)) {
        auto* entry = CONTAINING_RECORD(links, ExitEntry, links);
        entry->action(entry->context);
        PoolFree(entry);
    }
}

}  // namespace framework
