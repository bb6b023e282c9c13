// System queries with per-test answers: routine lookup by name, the WDM version
// and the system size.
#include <map>
#include <mutex>
#include <set>

#include "internal/dispatcher.h"
#include "internal/system_config.h"
#include "internal/verifier.h"
#include "kernel/io.h"

namespace kernel::internal {
namespace {

struct SystemConfiguration {
    std::mutex mutex;
    UCHAR wdmMajor = 6;
    UCHAR wdmMinor = 0;
    MM_SYSTEMSIZE size = MmLargeSystem;
    std::map<std::u16string, void*> routines;
    std::set<std::u16string> hidden;
};

#define ZOV_ROUTINE(name) \
    { u## #name, reinterpret_cast<void*>(&name) }

SystemConfiguration& Configuration() {
    static SystemConfiguration* configuration = [] {
        auto* c = new SystemConfiguration;
        c->routines = {
            ZOV_ROUTINE(KefAcquireSpinLockAtDpcLevel),
            ZOV_ROUTINE(KefReleaseSpinLockFromDpcLevel),
            ZOV_ROUTINE(KfAcquireSpinLock),
            ZOV_ROUTINE(KfReleaseSpinLock),
            ZOV_ROUTINE(KfRaiseIrql),
            ZOV_ROUTINE(KfLowerIrql),
            ZOV_ROUTINE(KeQueryTimeIncrement),
            ZOV_ROUTINE(KeQuerySystemTime),
            ZOV_ROUTINE(KeFlushQueuedDpcs),
            ZOV_ROUTINE(IoIsWdmVersionAvailable),
            ZOV_ROUTINE(IoAllocateWorkItem),
            ZOV_ROUTINE(IoQueueWorkItem),
            ZOV_ROUTINE(IoFreeWorkItem),
            ZOV_ROUTINE(IoReuseIrp),
            ZOV_ROUTINE(ExAllocatePoolWithTag),
            ZOV_ROUTINE(ExFreePoolWithTag),
            ZOV_ROUTINE(MmGetSystemRoutineAddress),
        };
        return c;
    }();
    return *configuration;
}

#undef ZOV_ROUTINE

}  // namespace

void SetWdmVersion(UCHAR major, UCHAR minor) {
    auto& c = Configuration();
    std::lock_guard guard(c.mutex);
    c.wdmMajor = major;
    c.wdmMinor = minor;
}

void SetSystemRoutineAvailable(std::u16string_view name, bool available) {
    auto& c = Configuration();
    std::lock_guard guard(c.mutex);
    if (available) {
        c.hidden.erase(std::u16string(name));
    } else {
        c.hidden.insert(std::u16string(name));
    }
}

void SetSystemSize(MM_SYSTEMSIZE size) {
    auto& c = Configuration();
    std::lock_guard guard(c.mutex);
    c.size = size;
}

void RegisterSystemRoutine(std::u16string_view name, void* address) {
    auto& c = Configuration();
    std::lock_guard guard(c.mutex);
    c.routines[std::u16string(name)] = address;
}

void ResetSystemConfiguration() {
    auto& c = Configuration();
    std::lock_guard guard(c.mutex);
    c.wdmMajor = 6;
    c.wdmMinor = 0;
    c.size = MmLargeSystem;
    c.hidden.clear();
}

}  // namespace kernel::internal

using namespace kernel::internal;

PVOID MmGetSystemRoutineAddress(PUNICODE_STRING systemRoutineName) {
    RequireIrqlAtMost(PASSIVE_LEVEL, "MmGetSystemRoutineAddress");
    if (systemRoutineName == nullptr || systemRoutineName->Buffer == nullptr) return nullptr;
    const std::u16string name(systemRoutineName->Buffer, systemRoutineName->Length / sizeof(WCHAR));
    auto& c = Configuration();
    std::lock_guard guard(c.mutex);
    if (c.hidden.count(name) != 0) return nullptr;
    auto found = c.routines.find(name);
    return found == c.routines.end() ? nullptr : found->second;
}

BOOLEAN IoIsWdmVersionAvailable(UCHAR majorVersion, UCHAR minorVersion) {
    auto& c = Configuration();
    std::lock_guard guard(c.mutex);
    const bool available =
        majorVersion < c.wdmMajor || (majorVersion == c.wdmMajor && minorVersion <= c.wdmMinor);
    return available ? TRUE : FALSE;
}

MM_SYSTEMSIZE MmQuerySystemSize() {
    auto& c = Configuration();
    std::lock_guard guard(c.mutex);
    return c.size;
}
