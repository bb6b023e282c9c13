// The IRP log's store (sim/irp_log.h is its test-side view).
#pragma once

#include <atomic>
#include <deque>
#include <mutex>

#include "sim/irp_log.h"

namespace kernel::internal {

class IrpLog {
  public:
    static IrpLog& Instance();
    [[nodiscard]] bool Enabled() const { return enabled_.load(std::memory_order_relaxed); }
    void Enable(bool enable) { enabled_.store(enable, std::memory_order_relaxed); }
    void Record(const sim::IrpLogEntry& entry);
    [[nodiscard]] std::vector<sim::IrpLogEntry> Entries() const;
    [[nodiscard]] std::string Tail(size_t count) const;
    void Clear();

    static constexpr size_t kCapacity = 4096;

  private:
    std::atomic<bool> enabled_{false};
    mutable std::mutex mutex_;
    std::deque<sim::IrpLogEntry> entries_;
};

}  // namespace kernel::internal
