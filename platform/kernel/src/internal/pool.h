// Pool bookkeeping shared with the resource checks and the sim controls.
#pragma once

#include <string>
#include <vector>

#include "kernel/ex.h"

namespace kernel::internal {

struct PoolBlock {
    void* address;
    SIZE_T size;
    ULONG tag;
    POOL_TYPE type;
    const void* site;  // return address of the allocating call
};

// A pool tag whose bytes in memory spell `text`.
constexpr ULONG PoolTag(const char (&text)[5]) {
    return static_cast<ULONG>(text[0]) | static_cast<ULONG>(text[1]) << 8 |
           static_cast<ULONG>(text[2]) << 16 | static_cast<ULONG>(text[3]) << 24;
}

[[nodiscard]] std::vector<PoolBlock> LivePoolBlocks();
// Frees every live block (test end, after they were reported).
void ReleaseAllPool();
[[nodiscard]] std::string TagText(ULONG tag);

}  // namespace kernel::internal
