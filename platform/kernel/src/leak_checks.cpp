// The resource rules: what is still allocated, queued, set or open is reported.
#include <cstdio>

#include "internal/dispatcher.h"
#include "internal/io_manager.h"
#include "internal/pool.h"
#include "internal/verifier.h"
#include "sim/resource_check.h"

namespace kernel::internal {
namespace {

std::string Narrow(const std::u16string& text) {
    std::string result;
    for (char16_t c : text) result.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return result;
}

void ReportLeft(sim::Rule rule, const std::string& text, const void* irp = nullptr,
                const void* device = nullptr, ULONG_PTR parameter = 0) {
    Violation violation{rule, bugcheck::DRIVER_VERIFIER_DETECTED_VIOLATION};
    violation.parameters[0] = 0x62;  // the platform's "leaked at unload" code
    violation.parameters[1] = parameter;
    violation.routine = "resource check";
    violation.message = text;
    violation.irp = irp;
    violation.device = device;
    Report(violation);
}

}  // namespace
}  // namespace kernel::internal

namespace sim {

size_t VerifyNoLeaks() {
    using namespace kernel::internal;
    size_t reports = 0;
    auto report = [&](Rule rule, const std::string& text, const void* irp = nullptr,
                      const void* device = nullptr, ULONG_PTR parameter = 0) {
        ++reports;
        ReportLeft(rule, text, irp, device, parameter);
    };
    for (const PoolBlock& block : LivePoolBlocks()) {
        char text[160];
        std::snprintf(text, sizeof text,
                      "pool block %p of %zu bytes, tag '%s', %s pool, allocated at %p",
                      block.address, block.size, TagText(block.tag).c_str(),
                      block.type == PagedPool ? "paged" : "non-paged", block.site);
        report(Rule::PoolLeak, text, nullptr, nullptr, block.tag);
    }
    for (const IrpInfo& irp : LiveIrps()) {
        char text[160];
        std::snprintf(text, sizeof text, "IRP %p (major 0x%02x, last sent to %p)%s",
                      static_cast<void*>(irp.irp), irp.majorFunction,
                      static_cast<void*>(irp.device),
                      irp.completed ? " completed but never freed" : " still in progress");
        report(Rule::IrpLeak, text, irp.irp, irp.device);
    }
    for (const std::string& item : LiveWorkItems()) report(Rule::WorkItemLeak, item);
    {
        std::vector<std::string> dpcs;
        std::vector<std::string> timers;
        auto& dispatcher = Dispatcher::Instance();
        {
            std::lock_guard lock(dispatcher.mutex);
            for (const auto& queue : dispatcher.dpcQueues) {
                for (const KDPC* dpc : queue) {
                    char text[96];
                    std::snprintf(text, sizeof text, "DPC %p (routine %p) still queued",
                                  static_cast<const void*>(dpc),
                                  reinterpret_cast<const void*>(dpc->DeferredRoutine));
                    dpcs.push_back(text);
                }
            }
            for (const auto& [key, timer] : dispatcher.timerQueue) {
                char text[96];
                std::snprintf(text, sizeof text, "timer %p still set (due at %llu)",
                              static_cast<const void*>(timer),
                              static_cast<unsigned long long>(key.due));
                timers.push_back(text);
            }
        }
        for (const auto& text : dpcs) report(Rule::DpcStillQueued, text);
        for (const auto& text : timers) report(Rule::TimerStillSet, text);
    }
    for (PDEVICE_OBJECT device : LiveDevices()) {
        report(Rule::DeviceLeak, "device object " + Narrow(DeviceName(device)) + " was not deleted",
               nullptr, device);
    }
    for (const LinkInfo& link : LiveLinks()) {
        report(Rule::SymbolicLinkLeak,
               "symbolic link " + Narrow(link.name) +
                   (link.device != nullptr ? " (an enabled device interface)" : "") +
                   " was not deleted",
               nullptr, link.device);
    }
    if (const size_t entries = UnwrittenErrorLogEntries(); entries != 0) {
        report(Rule::ResourceLeak,
               std::to_string(entries) + " error-log entries allocated and never written");
    }
    for (const std::string& item : RunResourceChecks()) report(Rule::ResourceLeak, item);
    return reports;
}

}  // namespace sim
