// IRPs: allocation, the verifier's record of each IRP, IoCallDriver and
// IoCompleteRequest with completion routines, and the I/O manager's final
// processing of threaded requests.
//
// Layout of an IRP block: the IRP, one guard stack location, then StackCount
// stack locations. A freed IRP is poisoned and kept in a quarantine for a while,
// so that a driver touching it afterwards is reported instead of corrupting a
// newer IRP at the same address.
#include <cstdlib>
#include <cstring>
#include <deque>
#include <unordered_map>

#include "internal/dispatcher.h"
#include "internal/faults.h"
#include "internal/io_manager.h"
#include "internal/irp_log.h"
#include "internal/pool.h"
#include "internal/verifier.h"

namespace kernel::internal {
namespace {

enum class IrpState { Idle, InDriver, Completed, Freed };

struct IrpRecord {
    IrpState state = IrpState::Idle;
    std::uint64_t serial = 0;
    std::vector<bool> pendingMarked;     // by stack location number (1..StackCount)
    std::vector<bool> dispatchReturned;  // by stack location number
    bool threaded = false;               // finished and freed by the I/O manager
    bool freedByIoManager = false;
    PVOID userBuffer = nullptr;
    ULONG userBufferLength = 0;
    PDEVICE_OBJECT lastDevice = nullptr;
    UCHAR majorFunction = 0;
    int holds = 0;  // CancelFileRequests keeps the IRP alive while it cancels
    bool freeWhenReleased = false;
};

struct IrpTable {
    std::mutex mutex;
    std::unordered_map<PIRP, IrpRecord> records;
    std::deque<PIRP> quarantine;
    std::uint64_t nextSerial = 1;
};

IrpTable& Table() {
    static IrpTable table;
    return table;
}

constexpr size_t kQuarantine = 64;
constexpr UCHAR kPoison = 0xDD;

size_t BlockSize(CCHAR stackSize) {
    return sizeof(IRP) + (static_cast<size_t>(stackSize) + 1) * sizeof(IO_STACK_LOCATION);
}

PIO_STACK_LOCATION FirstStackLocation(PIRP irp) {
    // The guard location comes first, right after the IRP.
    return reinterpret_cast<PIO_STACK_LOCATION>(irp + 1) + 1;
}

void InitializeIrp(PIRP irp, CCHAR stackSize) {
    std::memset(static_cast<void*>(irp), 0, BlockSize(stackSize));
    irp->Type = 6;
    irp->Size = static_cast<USHORT>(BlockSize(stackSize));
    irp->StackCount = stackSize;
    irp->CurrentLocation = static_cast<CHAR>(stackSize + 1);
    irp->Tail.Overlay.CurrentStackLocation = FirstStackLocation(irp) + stackSize;
    InitializeListHead(&irp->ThreadListEntry);
}

void ResetRecord(IrpRecord& record, CCHAR stackSize) {
    record.state = IrpState::Idle;
    record.pendingMarked.assign(static_cast<size_t>(stackSize) + 2, false);
    record.dispatchReturned.assign(static_cast<size_t>(stackSize) + 2, false);
}

void ReportIrp(sim::Rule rule, ULONG code, PIRP irp, const void* device, const char* routine,
               std::string message, ULONG_PTR parameter = 0) {
    Violation violation{rule, code};
    violation.parameters[0] = reinterpret_cast<ULONG_PTR>(irp);
    violation.parameters[1] = parameter;
    violation.routine = routine;
    violation.message = std::move(message);
    violation.irp = irp;
    violation.device = device;
    Report(violation);
}

// Looks the IRP up for a routine that must not see a freed one. Returns NULL
// after reporting. The caller holds the table lock.
IrpRecord* LiveRecord(IrpTable& table, PIRP irp) {
    auto found = table.records.find(irp);
    if (found == table.records.end() || found->second.state == IrpState::Freed) return nullptr;
    return &found->second;
}

void ReportUseAfterFree(PIRP irp, const char* routine) {
    ReportIrp(sim::Rule::IrpUsedAfterFree, bugcheck::DRIVER_VERIFIER_IOMANAGER_VIOLATION, irp,
              nullptr, routine, "the IRP was freed (or never allocated)");
}

void ReleaseToQuarantine(IrpTable& table, PIRP irp, IrpRecord& record) {
    record.state = IrpState::Freed;
    std::memset(static_cast<void*>(irp), kPoison, BlockSize(irp->StackCount));
    table.quarantine.push_back(irp);
    while (table.quarantine.size() > kQuarantine) {
        PIRP oldest = table.quarantine.front();
        table.quarantine.pop_front();
        table.records.erase(oldest);
        std::free(oldest);
    }
}

void LogCompletion(PIRP irp, PDEVICE_OBJECT device, const IO_STACK_LOCATION& stack) {
    auto& log = IrpLog::Instance();
    if (!log.Enabled()) return;
    const bool control = stack.MajorFunction == IRP_MJ_DEVICE_CONTROL ||
                         stack.MajorFunction == IRP_MJ_INTERNAL_DEVICE_CONTROL;
    log.Record({sim::IrpLogEntry::Kind::Completion, device, irp, stack.MajorFunction,
                stack.MinorFunction, control ? stack.Parameters.DeviceIoControl.IoControlCode : 0,
                irp->IoStatus.Status, irp->IoStatus.Information});
}

void FreeMdls(PIRP irp) {
    PMDL mdl = irp->MdlAddress;
    irp->MdlAddress = nullptr;
    while (mdl != nullptr) {
        PMDL next = mdl->Next;
        if ((mdl->MdlFlags & MDL_PAGES_LOCKED) != 0) MmUnlockPages(mdl);
        IoFreeMdl(mdl);
        mdl = next;
    }
}

// The last step of a threaded request, in the completing thread (the platform
// runs it as an APC in the requesting thread; the effect seen by the requester
// is the same).
void FinishThreadedIrp(PIRP irp, PVOID userBuffer, ULONG userBufferLength) {
    const NTSTATUS status = irp->IoStatus.Status;
    const bool isError = (static_cast<ULONG>(status) >> 30) == 3;
    if ((irp->Flags & IRP_BUFFERED_IO) != 0 && (irp->Flags & IRP_INPUT_OPERATION) != 0 &&
        !isError && userBuffer != nullptr && irp->AssociatedIrp.SystemBuffer != nullptr) {
        // A driver reporting more bytes than the caller's buffer holds must not
        // make the I/O manager write past it.
        const size_t count = std::min<ULONG_PTR>(irp->IoStatus.Information, userBufferLength);
        std::memcpy(userBuffer, irp->AssociatedIrp.SystemBuffer, count);
    }
    if ((irp->Flags & IRP_DEALLOCATE_BUFFER) != 0 && irp->AssociatedIrp.SystemBuffer != nullptr) {
        ExFreePool(irp->AssociatedIrp.SystemBuffer);
        irp->AssociatedIrp.SystemBuffer = nullptr;
    }
    FreeMdls(irp);
    PFILE_OBJECT file = irp->Tail.Overlay.OriginalFileObject;
    PKEVENT event = irp->UserEvent;
    if (irp->UserIosb != nullptr) {
        // Status last, with release order: a caller that polls it (GetOverlappedResult)
        // sees Information and the data once it is no longer STATUS_PENDING.
        irp->UserIosb->Information = irp->IoStatus.Information;
        __atomic_store_n(&irp->UserIosb->Status, irp->IoStatus.Status, __ATOMIC_RELEASE);
    }
    {
        auto& table = Table();
        std::lock_guard guard(table.mutex);
        IrpRecord* record = LiveRecord(table, irp);
        if (record != nullptr) {
            record->freedByIoManager = true;
            if (record->holds > 0) {
                record->freeWhenReleased = true;
            } else {
                ReleaseToQuarantine(table, irp, *record);
            }
        }
    }
    // The request's file reference goes before the requester is woken, so that a
    // handle closed right after a synchronous request is the file's last
    // reference and closes it at once. Only a request that signals the file
    // object's own event needs the file until after the event.
    if (file != nullptr && (event == nullptr || event == &file->Event)) {
        KeSetEvent(&file->Event, IO_NO_INCREMENT, FALSE);
        ObDereferenceObject(file);
    } else if (event != nullptr) {
        if (file != nullptr) ObDereferenceObject(file);
        KeSetEvent(event, IO_NO_INCREMENT, FALSE);
    }
}

PIRP AllocateIrp(CCHAR stackSize, bool injectable) {
    if (stackSize < 1) stackSize = 1;
    if (injectable && ShouldFail(sim::FaultSite::Irp)) return nullptr;
    auto* irp = static_cast<PIRP>(std::malloc(BlockSize(stackSize)));
    if (irp == nullptr) return nullptr;
    InitializeIrp(irp, stackSize);
    auto& table = Table();
    std::lock_guard guard(table.mutex);
    // A quarantined IRP at this address has been freed for real by now.
    IrpRecord& record = table.records[irp];
    record = IrpRecord{};
    record.serial = table.nextSerial++;
    ResetRecord(record, stackSize);
    return irp;
}

}  // namespace

// ---- requests built by the I/O manager ------------------------------------------

PIRP BuildRequest(const RequestParameters& p) {
    PIRP irp = AllocateIrp(p.device->StackSize, !p.mustSucceed);
    if (irp == nullptr) return nullptr;
    irp->RequestorMode = p.requestorMode;
    irp->UserIosb = p.ioStatus;
    irp->UserEvent = p.event;
    irp->Tail.Overlay.Thread = PsGetCurrentThread();
    irp->Tail.Overlay.OriginalFileObject = p.file;
    PIO_STACK_LOCATION stack = IoGetNextIrpStackLocation(irp);
    stack->MajorFunction = p.majorFunction;
    stack->FileObject = p.file;
    PVOID userBuffer = nullptr;
    ULONG userLength = 0;
    bool failed = false;

    auto allocateSystemBuffer = [&](ULONG size) -> bool {
        if (size == 0) return true;
        irp->AssociatedIrp.SystemBuffer =
            ExAllocatePoolWithTag(NonPagedPool, size, PoolTag("IoSB"));
        if (irp->AssociatedIrp.SystemBuffer == nullptr) return false;
        irp->Flags |= IRP_BUFFERED_IO | IRP_DEALLOCATE_BUFFER;
        return true;
    };
    auto lockBuffer = [&](PVOID buffer, ULONG length, LOCK_OPERATION operation) -> bool {
        if (buffer == nullptr || length == 0) return true;
        PMDL mdl = IoAllocateMdl(buffer, length, FALSE, FALSE, irp);
        if (mdl == nullptr) return false;
        MmProbeAndLockPages(mdl, p.requestorMode, operation);
        return true;
    };

    switch (p.majorFunction) {
        case IRP_MJ_DEVICE_CONTROL:
        case IRP_MJ_INTERNAL_DEVICE_CONTROL: {
            stack->Parameters.DeviceIoControl.IoControlCode = p.ioControlCode;
            stack->Parameters.DeviceIoControl.InputBufferLength = p.inputLength;
            stack->Parameters.DeviceIoControl.OutputBufferLength = p.outputLength;
            irp->UserBuffer = p.outputBuffer;
            userBuffer = p.outputBuffer;
            userLength = p.outputBuffer != nullptr ? p.outputLength : 0;
            switch (METHOD_FROM_CTL_CODE(p.ioControlCode)) {
                case METHOD_BUFFERED:
                    failed = !allocateSystemBuffer(std::max(p.inputLength, p.outputLength));
                    if (!failed && p.inputBuffer != nullptr && p.inputLength != 0) {
                        std::memcpy(irp->AssociatedIrp.SystemBuffer, p.inputBuffer, p.inputLength);
                    }
                    if (!failed && p.outputBuffer != nullptr && p.outputLength != 0) {
                        irp->Flags |= IRP_INPUT_OPERATION;
                    }
                    break;
                case METHOD_IN_DIRECT:
                case METHOD_OUT_DIRECT:
                    failed = !allocateSystemBuffer(p.inputBuffer != nullptr ? p.inputLength : 0);
                    if (!failed && p.inputBuffer != nullptr && p.inputLength != 0) {
                        std::memcpy(irp->AssociatedIrp.SystemBuffer, p.inputBuffer, p.inputLength);
                    }
                    if (!failed) {
                        failed =
                            !lockBuffer(p.outputBuffer, p.outputLength,
                                        METHOD_FROM_CTL_CODE(p.ioControlCode) == METHOD_IN_DIRECT
                                            ? IoReadAccess
                                            : IoWriteAccess);
                    }
                    break;
                default:
                    stack->Parameters.DeviceIoControl.Type3InputBuffer = p.inputBuffer;
                    break;
            }
            break;
        }
        case IRP_MJ_READ:
        case IRP_MJ_WRITE: {
            const bool read = p.majorFunction == IRP_MJ_READ;
            stack->Parameters.Read.Length = p.length;
            stack->Parameters.Read.ByteOffset.QuadPart = p.byteOffset;
            if ((p.device->Flags & DO_BUFFERED_IO) != 0) {
                failed = !allocateSystemBuffer(p.length);
                if (!failed && p.length != 0) {
                    if (read) {
                        irp->Flags |= IRP_INPUT_OPERATION;
                        userBuffer = p.buffer;
                        userLength = p.length;
                    } else {
                        std::memcpy(irp->AssociatedIrp.SystemBuffer, p.buffer, p.length);
                    }
                }
            } else if ((p.device->Flags & DO_DIRECT_IO) != 0) {
                failed = !lockBuffer(p.buffer, p.length, read ? IoWriteAccess : IoReadAccess);
            } else {
                irp->UserBuffer = p.buffer;
            }
            irp->Flags |= read ? IRP_READ_OPERATION : IRP_WRITE_OPERATION;
            break;
        }
        default:
            break;
    }
    if (failed) {
        if ((irp->Flags & IRP_DEALLOCATE_BUFFER) != 0) ExFreePool(irp->AssociatedIrp.SystemBuffer);
        FreeMdls(irp);
        IoFreeIrp(irp);
        return nullptr;
    }
    if (p.file != nullptr) ObReferenceObject(p.file);
    auto& table = Table();
    std::lock_guard guard(table.mutex);
    IrpRecord* record = LiveRecord(table, irp);
    record->threaded = true;
    record->userBuffer = userBuffer;
    record->userBufferLength = userLength;
    return irp;
}

size_t CancelFileRequests(PFILE_OBJECT file, PKTHREAD thread) {
    std::vector<PIRP> irps;
    auto& table = Table();
    {
        std::lock_guard guard(table.mutex);
        for (auto& [irp, record] : table.records) {
            if (record.state == IrpState::Freed || !record.threaded || record.freedByIoManager) {
                continue;
            }
            if (irp->Tail.Overlay.OriginalFileObject != file) continue;
            if (thread != nullptr &&
                irp->Tail.Overlay.Thread != reinterpret_cast<PETHREAD>(thread)) {
                continue;
            }
            ++record.holds;
            irps.push_back(irp);
        }
    }
    for (PIRP irp : irps) {
        IoCancelIrp(irp);
        std::lock_guard guard(table.mutex);
        auto& record = table.records.at(irp);
        if (--record.holds == 0 && record.freeWhenReleased) ReleaseToQuarantine(table, irp, record);
    }
    return irps.size();
}

bool IrpIsLive(PIRP irp) {
    auto& table = Table();
    std::lock_guard guard(table.mutex);
    return LiveRecord(table, irp) != nullptr;
}

std::vector<IrpInfo> LiveIrps() {
    auto& table = Table();
    std::lock_guard guard(table.mutex);
    std::vector<IrpInfo> irps;
    for (const auto& [irp, record] : table.records) {
        if (record.state == IrpState::Freed) continue;
        irps.push_back(
            {irp, record.lastDevice, record.majorFunction, record.state == IrpState::Completed});
    }
    return irps;
}

void ForgetIrps() {
    auto& table = Table();
    std::lock_guard guard(table.mutex);
    for (auto& [irp, record] : table.records) std::free(irp);
    table.records.clear();
    table.quarantine.clear();
}

}  // namespace kernel::internal

using namespace kernel::internal;

USHORT IoSizeOfIrp(CCHAR stackSize) {
    return static_cast<USHORT>(BlockSize(stackSize));
}

PIRP IoAllocateIrp(CCHAR stackSize, BOOLEAN) {
    return AllocateIrp(stackSize, true);
}

void IoReuseIrp(PIRP irp, NTSTATUS status) {
    auto& table = Table();
    std::unique_lock guard(table.mutex);
    IrpRecord* record = LiveRecord(table, irp);
    if (record == nullptr) {
        guard.unlock();
        ReportUseAfterFree(irp, "IoReuseIrp");
        return;
    }
    const UCHAR allocationFlags = irp->AllocationFlags;
    InitializeIrp(irp, irp->StackCount);
    irp->AllocationFlags = allocationFlags;
    irp->IoStatus.Status = status;
    const bool threaded = record->threaded;
    ResetRecord(*record, irp->StackCount);
    record->threaded = threaded;
}

void IoFreeIrp(PIRP irp) {
    auto& table = Table();
    std::unique_lock guard(table.mutex);
    IrpRecord* record = LiveRecord(table, irp);
    if (record == nullptr) {
        guard.unlock();
        ReportIrp(sim::Rule::IrpUsedAfterFree, bugcheck::DRIVER_VERIFIER_IOMANAGER_VIOLATION, irp,
                  nullptr, "IoFreeIrp", "the IRP is freed twice (or was never allocated)");
        return;
    }
    if (record->holds > 0) {
        record->freeWhenReleased = true;
        return;
    }
    ReleaseToQuarantine(table, irp, *record);
}

void IoMarkIrpPending(PIRP irp) {
    auto& table = Table();
    std::unique_lock guard(table.mutex);
    IrpRecord* record = LiveRecord(table, irp);
    if (record == nullptr) {
        guard.unlock();
        ReportUseAfterFree(irp, "IoMarkIrpPending");
        return;
    }
    if (irp->CurrentLocation > irp->StackCount) {
        // Not sent, or completed back to the top: the current location lies past
        // the IRP's last one, outside the IRP.
        guard.unlock();
        ReportIrp(sim::Rule::StackLocationOverflow, bugcheck::NO_MORE_IRP_STACK_LOCATIONS, irp,
                  nullptr, "IoMarkIrpPending",
                  "the IRP has no current stack location to mark (a completion routine of an "
                  "IRP its driver allocated must not mark it pending)");
        return;
    }
    IoGetCurrentIrpStackLocation(irp)->Control |= SL_PENDING_RETURNED;
    const auto location = static_cast<size_t>(irp->CurrentLocation);
    if (location < record->pendingMarked.size()) record->pendingMarked[location] = true;
}

NTSTATUS IofCallDriver(PDEVICE_OBJECT deviceObject, PIRP irp) {
    RequireIrqlAtMost(DISPATCH_LEVEL, "IofCallDriver");
    auto& table = Table();
    std::uint64_t serial = 0;
    size_t location = 0;
    PIO_STACK_LOCATION stack = nullptr;
    {
        std::unique_lock guard(table.mutex);
        IrpRecord* record = LiveRecord(table, irp);
        if (record == nullptr) {
            guard.unlock();
            ReportUseAfterFree(irp, "IofCallDriver");
            return STATUS_INVALID_PARAMETER;
        }
        if (irp->CurrentLocation <= 1) {
            guard.unlock();
            ReportIrp(sim::Rule::StackLocationOverflow, bugcheck::NO_MORE_IRP_STACK_LOCATIONS, irp,
                      deviceObject, "IofCallDriver",
                      "the IRP has no stack location left for this device (StackSize too small, "
                      "or a location was skipped past the last one)");
            return STATUS_INVALID_PARAMETER;
        }
        IoSetNextIrpStackLocation(irp);
        stack = IoGetCurrentIrpStackLocation(irp);
        stack->DeviceObject = deviceObject;
        location = static_cast<size_t>(irp->CurrentLocation);
        record->state = IrpState::InDriver;
        record->pendingMarked[location] = false;
        record->dispatchReturned[location] = false;
        record->lastDevice = deviceObject;
        record->majorFunction = stack->MajorFunction;
        serial = record->serial;
    }
    auto& log = IrpLog::Instance();
    if (log.Enabled()) {
        const bool control = stack->MajorFunction == IRP_MJ_DEVICE_CONTROL ||
                             stack->MajorFunction == IRP_MJ_INTERNAL_DEVICE_CONTROL;
        log.Record({sim::IrpLogEntry::Kind::Dispatch, deviceObject, irp, stack->MajorFunction,
                    stack->MinorFunction,
                    control ? stack->Parameters.DeviceIoControl.IoControlCode : 0, 0, 0});
    }
    const UCHAR major = stack->MajorFunction;
    PDRIVER_DISPATCH dispatch = major <= IRP_MJ_MAXIMUM_FUNCTION
                                    ? deviceObject->DriverObject->MajorFunction[major]
                                    : nullptr;
    NTSTATUS status;
    if (dispatch == nullptr) {
        // The I/O manager's own answer for a function the driver does not handle.
        irp->IoStatus.Status = STATUS_INVALID_DEVICE_REQUEST;
        irp->IoStatus.Information = 0;
        IofCompleteRequest(irp, IO_NO_INCREMENT);
        status = STATUS_INVALID_DEVICE_REQUEST;
    } else {
        status = dispatch(deviceObject, irp);
    }
    bool unmarked = false;
    {
        std::lock_guard guard(table.mutex);
        auto found = table.records.find(irp);
        if (found != table.records.end() && found->second.serial == serial) {
            IrpRecord& record = found->second;
            record.dispatchReturned[location] = true;
            unmarked = status == STATUS_PENDING && !record.pendingMarked[location];
        }
    }
    if (unmarked) {
        ReportIrp(sim::Rule::PendingNotMarked, bugcheck::DRIVER_VERIFIER_IOMANAGER_VIOLATION, irp,
                  deviceObject, "IofCallDriver",
                  "the dispatch routine returned STATUS_PENDING without calling IoMarkIrpPending");
    }
    return status;
}

void IofCompleteRequest(PIRP irp, KPRIORITY) {
    RequireIrqlAtMost(DISPATCH_LEVEL, "IofCompleteRequest");
    auto& table = Table();
    bool threaded = false;
    PVOID userBuffer = nullptr;
    ULONG userBufferLength = 0;
    std::uint64_t serial = 0;
    {
        std::unique_lock guard(table.mutex);
        auto found = table.records.find(irp);
        if (found == table.records.end()) {
            guard.unlock();
            ReportUseAfterFree(irp, "IofCompleteRequest");
            return;
        }
        IrpRecord& record = found->second;
        if (record.state == IrpState::Completed ||
            (record.state == IrpState::Freed && record.freedByIoManager)) {
            guard.unlock();
            ReportIrp(sim::Rule::IrpCompletedTwice, bugcheck::MULTIPLE_IRP_COMPLETE_REQUESTS, irp,
                      nullptr, "IofCompleteRequest", "the IRP has already been completed");
            return;
        }
        if (record.state == IrpState::Freed) {
            guard.unlock();
            ReportUseAfterFree(irp, "IofCompleteRequest");
            return;
        }
        PDEVICE_OBJECT device = irp->CurrentLocation <= irp->StackCount
                                    ? IoGetCurrentIrpStackLocation(irp)->DeviceObject
                                    : nullptr;
        const auto location = static_cast<size_t>(irp->CurrentLocation);
        const bool asyncUnmarked = location < record.dispatchReturned.size() &&
                                   record.dispatchReturned[location] &&
                                   !record.pendingMarked[location];
        const bool pending = irp->IoStatus.Status == STATUS_PENDING;
        const bool cancelRoutine =
            __atomic_load_n(&irp->CancelRoutine, __ATOMIC_SEQ_CST) != nullptr;
        threaded = record.threaded;
        userBuffer = record.userBuffer;
        userBufferLength = record.userBufferLength;
        serial = record.serial;
        guard.unlock();
        if (pending) {
            ReportIrp(sim::Rule::CompletedWithPending,
                      bugcheck::DRIVER_VERIFIER_IOMANAGER_VIOLATION, irp, device,
                      "IofCompleteRequest", "IoStatus.Status is STATUS_PENDING");
        }
        if (cancelRoutine) {
            ReportIrp(sim::Rule::CompletedWithCancelRoutine,
                      bugcheck::DRIVER_VERIFIER_IOMANAGER_VIOLATION, irp, device,
                      "IofCompleteRequest", "the IRP still has a cancel routine");
            IoSetCancelRoutine(irp, nullptr);
        }
        if (asyncUnmarked) {
            ReportIrp(sim::Rule::AsyncCompletionNotMarked,
                      bugcheck::DRIVER_VERIFIER_IOMANAGER_VIOLATION, irp, device,
                      "IofCompleteRequest",
                      "the dispatch routine has returned, but did not mark the IRP pending");
        }
    }

    // Walk up the stack: each location's completion routine, set by the driver
    // above, runs with that driver's device object.
    while (irp->CurrentLocation <= irp->StackCount) {
        PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
        LogCompletion(irp, stack->DeviceObject, *stack);
        bool pendingReturned = false;
        PIO_COMPLETION_ROUTINE routine = stack->CompletionRoutine;
        PVOID context = stack->Context;
        const UCHAR control = stack->Control;
        {
            std::lock_guard guard(table.mutex);
            IrpRecord& record = table.records.at(irp);
            const auto location = static_cast<size_t>(irp->CurrentLocation);
            pendingReturned = record.pendingMarked[location];
            std::memset(static_cast<void*>(stack), 0, sizeof *stack);
            IoSkipCurrentIrpStackLocation(irp);
            irp->PendingReturned = pendingReturned ? TRUE : FALSE;
        }
        const NTSTATUS status = irp->IoStatus.Status;
        const bool invoke =
            routine != nullptr && ((NT_SUCCESS(status) && (control & SL_INVOKE_ON_SUCCESS) != 0) ||
                                   (!NT_SUCCESS(status) && (control & SL_INVOKE_ON_ERROR) != 0) ||
                                   (irp->Cancel && (control & SL_INVOKE_ON_CANCEL) != 0));
        const bool atTop = irp->CurrentLocation > irp->StackCount;
        if (invoke) {
            PDEVICE_OBJECT upper =
                atTop ? nullptr : IoGetCurrentIrpStackLocation(irp)->DeviceObject;
            if (routine(upper, irp, context) == STATUS_MORE_PROCESSING_REQUIRED) {
                // The IRP belongs to that driver again (it may even be freed).
                std::lock_guard guard(table.mutex);
                auto found = table.records.find(irp);
                if (found != table.records.end() && found->second.serial == serial &&
                    found->second.state != IrpState::Freed) {
                    found->second.state = IrpState::InDriver;
                }
                return;
            }
            bool freed = false;
            {
                std::lock_guard guard(table.mutex);
                freed = table.records.at(irp).state == IrpState::Freed;
            }
            if (freed) {
                ReportIrp(sim::Rule::IrpUsedAfterFree,
                          bugcheck::DRIVER_VERIFIER_IOMANAGER_VIOLATION, irp, upper,
                          "IofCompleteRequest",
                          "a completion routine freed the IRP but did not return "
                          "STATUS_MORE_PROCESSING_REQUIRED");
                return;
            }
            if (pendingReturned && !atTop) {
                bool marked = false;
                {
                    std::lock_guard guard(table.mutex);
                    marked = table.records.at(irp).pendingMarked[irp->CurrentLocation];
                }
                if (!marked) {
                    ReportIrp(sim::Rule::AsyncCompletionNotMarked,
                              bugcheck::DRIVER_VERIFIER_IOMANAGER_VIOLATION, irp, upper,
                              "IofCompleteRequest",
                              "a completion routine saw PendingReturned but did not mark the IRP "
                              "pending for its own stack location");
                }
            }
        } else if (pendingReturned && !atTop) {
            IoMarkIrpPending(irp);
        }
    }
    // A threaded IRP is finished and freed here. An IRP from IoAllocateIrp that
    // reaches the top is left alone: its owner must free it, and the resource
    // check reports it if that never happens.
    {
        std::lock_guard guard(table.mutex);
        table.records.at(irp).state = IrpState::Completed;
    }
    if (threaded) FinishThreadedIrp(irp, userBuffer, userBufferLength);
}

PIRP IoBuildDeviceIoControlRequest(ULONG ioControlCode, PDEVICE_OBJECT deviceObject,
                                   PVOID inputBuffer, ULONG inputBufferLength, PVOID outputBuffer,
                                   ULONG outputBufferLength, BOOLEAN internalDeviceIoControl,
                                   PKEVENT event, PIO_STATUS_BLOCK ioStatusBlock) {
    RequireIrqlAtMost(PASSIVE_LEVEL, "IoBuildDeviceIoControlRequest");
    RequestParameters p;
    p.majorFunction =
        internalDeviceIoControl ? IRP_MJ_INTERNAL_DEVICE_CONTROL : IRP_MJ_DEVICE_CONTROL;
    p.device = deviceObject;
    p.ioControlCode = ioControlCode;
    p.internal = internalDeviceIoControl != FALSE;
    p.inputBuffer = inputBuffer;
    p.inputLength = inputBufferLength;
    p.outputBuffer = outputBuffer;
    p.outputLength = outputBufferLength;
    p.event = event;
    p.ioStatus = ioStatusBlock;
    return BuildRequest(p);
}

PIRP IoBuildSynchronousFsdRequest(ULONG majorFunction, PDEVICE_OBJECT deviceObject, PVOID buffer,
                                  ULONG length, PLARGE_INTEGER startingOffset, PKEVENT event,
                                  PIO_STATUS_BLOCK ioStatusBlock) {
    RequireIrqlAtMost(PASSIVE_LEVEL, "IoBuildSynchronousFsdRequest");
    RequestParameters p;
    p.majorFunction = static_cast<UCHAR>(majorFunction);
    p.device = deviceObject;
    p.buffer = buffer;
    p.length = length;
    p.byteOffset = startingOffset != nullptr ? startingOffset->QuadPart : 0;
    p.event = event;
    p.ioStatus = ioStatusBlock;
    return BuildRequest(p);
}

PIRP IoBuildAsynchronousFsdRequest(ULONG majorFunction, PDEVICE_OBJECT deviceObject, PVOID buffer,
                                   ULONG length, PLARGE_INTEGER startingOffset,
                                   PIO_STATUS_BLOCK ioStatusBlock) {
    RequestParameters p;
    p.majorFunction = static_cast<UCHAR>(majorFunction);
    p.device = deviceObject;
    p.buffer = buffer;
    p.length = length;
    p.byteOffset = startingOffset != nullptr ? startingOffset->QuadPart : 0;
    p.ioStatus = ioStatusBlock;
    PIRP irp = BuildRequest(p);
    if (irp == nullptr) return nullptr;
    // Asynchronous FSD requests are the caller's to free from its completion routine.
    auto& table = Table();
    std::lock_guard guard(table.mutex);
    table.records.at(irp).threaded = false;
    return irp;
}
