// Leftover-resource checks run at test end (sim::VerifyNoLeaks). A simulated
// service registers a callback that lists what is still open; each non-empty
// answer becomes a resource-leak report of the verifier.
#pragma once

#include <functional>
#include <string>
#include <vector>

namespace sim {

using ResourceCheck = std::function<std::vector<std::string>()>;

// Registers (or replaces) the check called `name`. Safe to call from static
// initialisers and from any thread.
void RegisterResourceCheck(const std::string& name, ResourceCheck check);

// Runs every registered check; returns "name: item" for each leftover.
[[nodiscard]] std::vector<std::string> RunResourceChecks();

}  // namespace sim
