// Tagged pool: each block is recorded with its tag, size, type and allocation
// site; freeing checks the block and its tag. New blocks are filled with 0xCD so
// that code relying on zeroed pool shows up.
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <unordered_map>

#include "internal/dispatcher.h"
#include "internal/faults.h"
#include "internal/pool.h"
#include "internal/verifier.h"

namespace kernel::internal {
namespace {

struct PoolTable {
    std::mutex mutex;
    std::unordered_map<void*, PoolBlock> blocks;
};

PoolTable& Table() {
    static PoolTable table;
    return table;
}

void ReportBadFree(void* p, ULONG tag, ULONG expected, const char* routine, const char* text) {
    Violation violation{sim::Rule::BadPoolCaller, bugcheck::BAD_POOL_CALLER};
    violation.parameters[0] = reinterpret_cast<ULONG_PTR>(p);
    violation.parameters[1] = tag;
    violation.parameters[2] = expected;
    violation.routine = routine;
    violation.message = text;
    Report(violation);
}

PVOID Allocate(POOL_TYPE poolType, SIZE_T size, ULONG tag, const void* site) {
    const auto baseType = static_cast<POOL_TYPE>(poolType & ~POOL_RAISE_IF_ALLOCATION_FAILURE);
    const bool paged = baseType == PagedPool || baseType == PagedPoolCacheAligned;
    if (paged && CurrentThread()->irql > APC_LEVEL) {
        Violation violation{sim::Rule::PagedPoolAtDispatch, bugcheck::IRQL_NOT_LESS_OR_EQUAL};
        violation.parameters[0] = CurrentThread()->irql;
        violation.parameters[1] = tag;
        violation.routine = "ExAllocatePoolWithTag";
        violation.message = "paged pool needs IRQL <= APC_LEVEL";
        Report(violation);
    }
    void* block = nullptr;
    if (!ShouldFail(sim::FaultSite::Pool, tag)) block = std::malloc(size == 0 ? 1 : size);
    if (block == nullptr) {
        if ((poolType & POOL_RAISE_IF_ALLOCATION_FAILURE) != 0) {
            ExRaiseStatus(STATUS_INSUFFICIENT_RESOURCES);
        }
        return nullptr;
    }
    std::memset(block, 0xCD, size == 0 ? 1 : size);
    auto& table = Table();
    std::lock_guard guard(table.mutex);
    table.blocks[block] = PoolBlock{block, size, tag, baseType, site};
    return block;
}

void Free(void* p, std::optional<ULONG> tag, const char* routine) {
    if (p == nullptr) {
        ReportBadFree(p, tag.value_or(0), 0, routine, "freeing a NULL pool block");
        return;
    }
    PoolBlock block;
    {
        auto& table = Table();
        std::lock_guard guard(table.mutex);
        auto found = table.blocks.find(p);
        if (found == table.blocks.end()) {
            block.address = nullptr;
        } else {
            block = found->second;
            if (!tag || *tag == block.tag) table.blocks.erase(found);
        }
    }
    if (block.address == nullptr) {
        ReportBadFree(p, tag.value_or(0), 0, routine,
                      "the address is not an allocated pool block (freed twice?)");
        return;
    }
    if (tag && *tag != block.tag) {
        ReportBadFree(p, *tag, block.tag, routine, "the tag does not match the allocation's");
        return;
    }
    ForgetLocksIn(p, block.size);
    std::free(p);
}

}  // namespace

std::vector<PoolBlock> LivePoolBlocks() {
    auto& table = Table();
    std::lock_guard guard(table.mutex);
    std::vector<PoolBlock> blocks;
    for (const auto& [address, block] : table.blocks) blocks.push_back(block);
    return blocks;
}

void ReleaseAllPool() {
    auto& table = Table();
    std::lock_guard guard(table.mutex);
    for (const auto& [address, block] : table.blocks) std::free(address);
    table.blocks.clear();
}

std::string TagText(ULONG tag) {
    std::string text;
    for (int shift = 0; shift < 32; shift += 8) {
        const char c = static_cast<char>((tag >> shift) & 0xff);
        text += (c >= 0x20 && c < 0x7f) ? c : '.';
    }
    return text;
}

}  // namespace kernel::internal

PVOID ExAllocatePoolWithTag(POOL_TYPE poolType, SIZE_T numberOfBytes, ULONG tag) {
    return kernel::internal::Allocate(poolType, numberOfBytes, tag, __builtin_return_address(0));
}

PVOID ExAllocatePool(POOL_TYPE poolType, SIZE_T numberOfBytes) {
    // The platform tags untagged allocations "None".
    constexpr ULONG none = 'N' | ('o' << 8) | ('n' << 16) | ('e' << 24);
    return kernel::internal::Allocate(poolType, numberOfBytes, none, __builtin_return_address(0));
}

void ExFreePoolWithTag(PVOID p, ULONG tag) {
    kernel::internal::Free(p, tag, "ExFreePoolWithTag");
}

void ExFreePool(PVOID p) {
    kernel::internal::Free(p, std::nullopt, "ExFreePool");
}
