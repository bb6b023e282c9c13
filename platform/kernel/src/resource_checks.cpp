// Registry of leftover-resource checks (declared in sim/resource_check.h, kept in
// the kernel library so that kernel services can register themselves).
#include "sim/resource_check.h"

#include <map>
#include <mutex>

namespace sim {
namespace {

struct CheckTable {
    std::mutex mutex;
    std::map<std::string, ResourceCheck> checks;
};

CheckTable& Table() {
    static CheckTable table;
    return table;
}

}  // namespace

void RegisterResourceCheck(const std::string& name, ResourceCheck check) {
    auto& table = Table();
    std::lock_guard guard(table.mutex);
    table.checks[name] = std::move(check);
}

std::vector<std::string> RunResourceChecks() {
    std::map<std::string, ResourceCheck> checks;
    {
        auto& table = Table();
        std::lock_guard guard(table.mutex);
        checks = table.checks;
    }
    std::vector<std::string> leftovers;
    for (const auto& [name, check] : checks) {
        for (const auto& item : check()) leftovers.push_back(name + ": " + item);
    }
    return leftovers;
}

}  // namespace sim
