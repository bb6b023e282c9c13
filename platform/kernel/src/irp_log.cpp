// The IRP log: a bounded record of dispatches and completions.
#include "internal/irp_log.h"

#include <cstdio>

namespace kernel::internal {

IrpLog& IrpLog::Instance() {
    static IrpLog log;
    return log;
}

void IrpLog::Record(const sim::IrpLogEntry& entry) {
    std::lock_guard guard(mutex_);
    entries_.push_back(entry);
    if (entries_.size() > kCapacity) entries_.pop_front();
}

std::vector<sim::IrpLogEntry> IrpLog::Entries() const {
    std::lock_guard guard(mutex_);
    return {entries_.begin(), entries_.end()};
}

std::string IrpLog::Tail(size_t count) const {
    std::lock_guard guard(mutex_);
    std::string text;
    const size_t first = entries_.size() > count ? entries_.size() - count : 0;
    for (size_t index = first; index < entries_.size(); ++index) {
        text += entries_[index].Format() + "\n";
    }
    return text;
}

void IrpLog::Clear() {
    std::lock_guard guard(mutex_);
    entries_.clear();
}

}  // namespace kernel::internal

namespace sim {

std::string IrpLogEntry::Format() const {
    char text[200];
    if (kind == Kind::Dispatch) {
        std::snprintf(text, sizeof text,
                      "dispatch   device %p irp %p major 0x%02x minor 0x%02x code 0x%08x", device,
                      irp, majorFunction, minorFunction, static_cast<unsigned>(ioControlCode));
    } else {
        std::snprintf(text, sizeof text,
                      "complete   device %p irp %p major 0x%02x minor 0x%02x code 0x%08x status "
                      "0x%08x information %llu",
                      device, irp, majorFunction, minorFunction,
                      static_cast<unsigned>(ioControlCode), static_cast<unsigned>(status),
                      static_cast<unsigned long long>(information));
    }
    return text;
}

void EnableIrpLog(bool enable) {
    kernel::internal::IrpLog::Instance().Enable(enable);
}
std::vector<IrpLogEntry> IrpLogEntries() {
    return kernel::internal::IrpLog::Instance().Entries();
}
std::string IrpLogTail(size_t count) {
    return kernel::internal::IrpLog::Instance().Tail(count);
}
void ClearIrpLog() {
    kernel::internal::IrpLog::Instance().Clear();
}

}  // namespace sim
