// Written error-log entries, as the sim controls read them.
#pragma once

#include <vector>

#include "sim/io.h"

namespace kernel::internal {

[[nodiscard]] std::vector<sim::ErrorLogEntry> WrittenErrorLogEntries();

}  // namespace kernel::internal
