// The log of contract violations and the reset of the simulated platform.
#include "violations.h"

#include <mutex>

#include "hid_state.h"
#include "registry_state.h"

namespace win32sim {
namespace detail {
namespace {

std::mutex& ViolationMutex() {
    static std::mutex mutex;
    return mutex;
}

std::vector<std::string>& ViolationLog() {
    static std::vector<std::string> log;
    return log;
}

}  // namespace

void RecordViolation(std::string text) {
    std::lock_guard lock(ViolationMutex());
    ViolationLog().push_back(std::move(text));
}

void ClearViolations() {
    std::lock_guard lock(ViolationMutex());
    ViolationLog().clear();
}

}  // namespace detail

std::vector<std::string> Violations() {
    std::lock_guard lock(detail::ViolationMutex());
    return detail::ViolationLog();
}

void Reset() {
    {
        detail::HidState& state = detail::State();
        std::lock_guard lock(state.mutex);
        state.devices.clear();
        state.objects.clear();
        state.deviceInfoSets.clear();
        state.preparsedData.clear();
        state.pendingReads.clear();
        state.faults.clear();
        state.now = 0;
        state.realTimeArrivals = false;
        state.deadlocks = 0;
    }
    detail::ClearRegistry();
    SetErrorInfo(0, nullptr);
    detail::ClearViolations();
}

}  // namespace win32sim
