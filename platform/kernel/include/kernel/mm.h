// Memory manager: memory descriptor lists as far as drivers build, lock and map
// them, and the system queries (routine lookup by name, system size).
// A fake: the simulation has one address space, so a "system address" of locked
// pages is the described buffer itself.
#pragma once

#include "kernel/ke.h"

using CSHORT = SHORT;

struct MDL {
    MDL* Next;
    CSHORT Size;
    CSHORT MdlFlags;
    PVOID Process;
    PVOID MappedSystemVa;
    PVOID StartVa;  // page-aligned start of the described buffer
    ULONG ByteCount;
    ULONG ByteOffset;  // offset of the buffer in its first page
};
using PMDL = MDL*;

constexpr CSHORT MDL_MAPPED_TO_SYSTEM_VA = 0x0001;
constexpr CSHORT MDL_PAGES_LOCKED = 0x0002;
constexpr CSHORT MDL_SOURCE_IS_NONPAGED_POOL = 0x0004;
constexpr CSHORT MDL_PARTIAL = 0x0010;
constexpr CSHORT MDL_PARTIAL_HAS_BEEN_MAPPED = 0x0020;
constexpr CSHORT MDL_IO_PAGE_READ = 0x0040;
constexpr CSHORT MDL_WRITE_OPERATION = 0x0080;
constexpr CSHORT MDL_MAPPING_CAN_FAIL = 0x2000;

constexpr ULONG PAGE_SIZE = 0x1000;

enum LOCK_OPERATION { IoReadAccess = 0, IoWriteAccess = 1, IoModifyAccess = 2 };
enum MEMORY_CACHING_TYPE { MmNonCached = 0, MmCached = 1, MmWriteCombined = 2 };
enum MM_PAGE_PRIORITY { LowPagePriority = 0, NormalPagePriority = 16, HighPagePriority = 32 };
enum MM_SYSTEMSIZE { MmSmallSystem = 0, MmMediumSystem = 1, MmLargeSystem = 2 };

[[nodiscard]] inline PVOID MmGetMdlVirtualAddress(const MDL* mdl) {
    return static_cast<PCHAR>(mdl->StartVa) + mdl->ByteOffset;
}
[[nodiscard]] inline ULONG MmGetMdlByteCount(const MDL* mdl) {
    return mdl->ByteCount;
}
[[nodiscard]] inline ULONG MmGetMdlByteOffset(const MDL* mdl) {
    return mdl->ByteOffset;
}

// Raises STATUS_ACCESS_VIOLATION for a buffer that cannot be locked (a NULL one).
void MmProbeAndLockPages(PMDL mdl, KPROCESSOR_MODE accessMode, LOCK_OPERATION operation);
void MmUnlockPages(PMDL mdl);
void MmBuildMdlForNonPagedPool(PMDL mdl);
// NULL when the pages are not locked or the mapping fails; without
// MDL_MAPPING_CAN_FAIL a failed kernel-mode mapping is a bug check.
[[nodiscard]] PVOID MmMapLockedPages(PMDL mdl, KPROCESSOR_MODE accessMode);
[[nodiscard]] PVOID MmMapLockedPagesSpecifyCache(PMDL mdl, KPROCESSOR_MODE accessMode,
                                                 MEMORY_CACHING_TYPE cacheType,
                                                 PVOID requestedAddress, ULONG bugCheckOnFailure,
                                                 ULONG priority);
void MmUnmapLockedPages(PVOID baseAddress, PMDL mdl);
[[nodiscard]] inline PVOID MmGetSystemAddressForMdlSafe(PMDL mdl, ULONG priority) {
    if ((mdl->MdlFlags & (MDL_MAPPED_TO_SYSTEM_VA | MDL_SOURCE_IS_NONPAGED_POOL)) != 0) {
        return mdl->MappedSystemVa;
    }
    return MmMapLockedPagesSpecifyCache(mdl, KernelMode, MmCached, nullptr, FALSE, priority);
}

// The address of the named kernel routine, NULL when this system lacks it.
[[nodiscard]] PVOID MmGetSystemRoutineAddress(PUNICODE_STRING systemRoutineName);
[[nodiscard]] MM_SYSTEMSIZE MmQuerySystemSize();
