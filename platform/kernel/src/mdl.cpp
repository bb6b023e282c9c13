// Memory descriptor lists over the simulation's single address space.
#include <cstdint>

#include "internal/dispatcher.h"
#include "internal/pool.h"
#include "internal/verifier.h"
#include "kernel/io.h"

namespace {

void Describe(PMDL mdl, PVOID virtualAddress, ULONG length) {
    const auto address = reinterpret_cast<std::uintptr_t>(virtualAddress);
    mdl->StartVa = reinterpret_cast<PVOID>(address & ~std::uintptr_t{PAGE_SIZE - 1});
    mdl->ByteOffset = static_cast<ULONG>(address & (PAGE_SIZE - 1));
    mdl->ByteCount = length;
}

}  // namespace

PMDL IoAllocateMdl(PVOID virtualAddress, ULONG length, BOOLEAN secondaryBuffer, BOOLEAN, PIRP irp) {
    auto* mdl = static_cast<PMDL>(
        ExAllocatePoolWithTag(NonPagedPool, sizeof(MDL), kernel::internal::PoolTag("IMdl")));
    if (mdl == nullptr) return nullptr;
    mdl->Next = nullptr;
    mdl->Size = sizeof(MDL);
    mdl->MdlFlags = 0;
    mdl->Process = nullptr;
    mdl->MappedSystemVa = nullptr;
    Describe(mdl, virtualAddress, length);
    if (irp != nullptr) {
        if (!secondaryBuffer || irp->MdlAddress == nullptr) {
            irp->MdlAddress = mdl;
        } else {
            PMDL last = irp->MdlAddress;
            while (last->Next != nullptr) last = last->Next;
            last->Next = mdl;
        }
    }
    return mdl;
}

void IoFreeMdl(PMDL mdl) {
    ExFreePoolWithTag(mdl, kernel::internal::PoolTag("IMdl"));
}

void IoBuildPartialMdl(PMDL sourceMdl, PMDL targetMdl, PVOID virtualAddress, ULONG length) {
    auto* sourceStart = static_cast<char*>(MmGetMdlVirtualAddress(sourceMdl));
    auto* start = static_cast<char*>(virtualAddress);
    const ULONG sourceCount = MmGetMdlByteCount(sourceMdl);
    // Clip the part to the source buffer, whatever the caller asks for.
    ULONG offset = 0;
    if (start >= sourceStart && start <= sourceStart + sourceCount) {
        offset = static_cast<ULONG>(start - sourceStart);
    }
    if (length == 0 || length > sourceCount - offset) length = sourceCount - offset;
    Describe(targetMdl, sourceStart + offset, length);
    targetMdl->MdlFlags = MDL_PARTIAL;
    if ((sourceMdl->MdlFlags & (MDL_MAPPED_TO_SYSTEM_VA | MDL_SOURCE_IS_NONPAGED_POOL)) != 0) {
        targetMdl->MdlFlags |= MDL_MAPPED_TO_SYSTEM_VA | MDL_PARTIAL_HAS_BEEN_MAPPED;
        targetMdl->MappedSystemVa = sourceStart + offset;
    }
}

void MmProbeAndLockPages(PMDL mdl, KPROCESSOR_MODE, LOCK_OPERATION operation) {
    if (mdl->StartVa == nullptr && mdl->ByteOffset == 0) ExRaiseStatus(STATUS_ACCESS_VIOLATION);
    mdl->MdlFlags |= MDL_PAGES_LOCKED;
    if (operation != IoReadAccess) mdl->MdlFlags |= MDL_WRITE_OPERATION;
}

void MmUnlockPages(PMDL mdl) {
    mdl->MdlFlags &= static_cast<CSHORT>(~(MDL_PAGES_LOCKED | MDL_MAPPED_TO_SYSTEM_VA));
    mdl->MappedSystemVa = nullptr;
}

void MmBuildMdlForNonPagedPool(PMDL mdl) {
    mdl->MdlFlags |= MDL_SOURCE_IS_NONPAGED_POOL;
    mdl->MappedSystemVa = MmGetMdlVirtualAddress(mdl);
}

PVOID MmMapLockedPagesSpecifyCache(PMDL mdl, KPROCESSOR_MODE, MEMORY_CACHING_TYPE, PVOID, ULONG,
                                   ULONG) {
    if ((mdl->MdlFlags & (MDL_PAGES_LOCKED | MDL_SOURCE_IS_NONPAGED_POOL | MDL_PARTIAL)) == 0) {
        return nullptr;
    }
    mdl->MappedSystemVa = MmGetMdlVirtualAddress(mdl);
    mdl->MdlFlags |= MDL_MAPPED_TO_SYSTEM_VA;
    return mdl->MappedSystemVa;
}

PVOID MmMapLockedPages(PMDL mdl, KPROCESSOR_MODE accessMode) {
    return MmMapLockedPagesSpecifyCache(mdl, accessMode, MmCached, nullptr, TRUE,
                                        NormalPagePriority);
}

void MmUnmapLockedPages(PVOID, PMDL mdl) {
    mdl->MdlFlags &= static_cast<CSHORT>(~MDL_MAPPED_TO_SYSTEM_VA);
    mdl->MappedSystemVa = nullptr;
}
