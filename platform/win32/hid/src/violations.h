// The simulation's log of contract violations, shared by all its services.
#pragma once

#include <string>
#include <vector>

namespace win32sim::detail {

void RecordViolation(std::string text);
void ClearViolations();

}  // namespace win32sim::detail
