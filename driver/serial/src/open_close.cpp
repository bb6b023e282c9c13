// Opening and closing the port: CREATE (one open at a time), CLOSE with its
// drain, CLEANUP, and the file-information requests a COM port answers.
#include "framework/irp_helpers.h"
#include "framework/pool.h"
#include "framework/wait.h"
#include "serial/serial_port.h"

namespace serial {
namespace {

// The create option that asks for a directory (low bits of Create.Options).
constexpr ULONG kFileDirectoryFile = 0x00000001;

// Receive-buffer size by MmQuerySystemSize.
constexpr ULONG kReceiveBufferSizes[] = {
    128,   // MmSmallSystem
    1024,  // MmMediumSystem
    4096,  // MmLargeSystem
};

ULONG ReceiveBufferSizeForSystem() {
    const auto size = static_cast<ULONG>(MmQuerySystemSize());
    constexpr ULONG kLargest = sizeof kReceiveBufferSizes / sizeof kReceiveBufferSizes[0] - 1;
    return kReceiveBufferSizes[size < kLargest ? size : kLargest];
}

// Records the query handler clears before it refuses them.
constexpr ULONG kFileStandardInformationSize = 24;
constexpr ULONG kFilePositionInformationSize = 8;

}  // namespace

NTSTATUS SerialPort::DispatchCreate(PIRP irp) {
    framework::RecursiveMutexGuard openClose(openCloseLock);
    {
        framework::RecursiveMutexGuard power(powerLock);
        (void)PowerUp(true);
        (void)UpdateWaitWake(framework::WaitWakeOperation::Enable);
    }
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    NTSTATUS status = STATUS_SUCCESS;
    if (InterlockedIncrement(&openCount) > 1) {
        InterlockedDecrement(&openCount);
        status = STATUS_ACCESS_DENIED;  // the port is exclusive
    } else if ((stack->Parameters.Create.Options & kFileDirectoryFile) != 0) {
        InterlockedDecrement(&openCount);
        status = STATUS_NOT_A_DIRECTORY;
    } else {
        status = OpenPort(irp);
    }
    return framework::Complete(irp, status, 0);
}

NTSTATUS SerialPort::OpenPort(PIRP irp) {
    const ULONG size = ReceiveBufferSizeForSystem();
    auto* storage = static_cast<UCHAR*>(framework::PoolAllocate(size));
    if (storage == nullptr) {
        InterlockedDecrement(&openCount);
        return STATUS_INSUFFICIENT_RESOURCES;
    }
    // Under the port lock: the device side may already deliver characters.
    WithPortLock([&] {
        rxBuffer = storage;
        rxBufferSize = size;
        rxFirst = 0;
        rxNext = 0;
        rxCount = 0;
        handFlow.XoffLimit = static_cast<LONG>(size / 8);
        handFlow.XonLimit = static_cast<LONG>(size / 2);
        rxHoldReasons = 0;
        txHoldReasons = 0;
        escapeChar = 0;
        sendXon = false;
        sendXoff = false;
        errorFlags = 0;
    });
    LoadPortsDefaults();
    const NTSTATUS status = OnOpen(irp);
    if (NT_SUCCESS(status) && WithPortLock([this] { return OnOpenSettings(); }) != 0) {
        return STATUS_SUCCESS;
    }
    if (powerDownOnClose) (void)RequestDevicePower(PowerDeviceD3, true);
    WithPortLock([this] {
        // Open settings that failed half-way must not leave a closed port active.
        portActive = false;
        FreeReceiveBuffer();
    });
    InterlockedDecrement(&openCount);
    return STATUS_ACCESS_DENIED;
}

NTSTATUS SerialPort::DispatchClose(PIRP irp) {
    // A flush in progress ends first.
    (void)framework::Wait(&flushEvent, 0);
    framework::RecursiveMutexGuard openClose(openCloseLock);
    if (openCount == 0) return framework::Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    (void)UpdateWaitWake(framework::WaitWakeOperation::Disable);
    KeClearEvent(&closeEvent);
    WithPortLock([this] { return OnClose(); });
    // Signalled when the close drain has run (at least ten character times).
    (void)framework::Wait(&closeEvent, 0);
    WithPortLock([this] { FreeReceiveBuffer(); });
    InterlockedDecrement(&openCount);
    if (powerDownOnClose) (void)RequestDevicePower(PowerDeviceD3, true);
    return framework::Complete(irp, STATUS_SUCCESS, 0);
}

bool SerialPort::OnClose() {
    portActive = false;
    PostEvent({PortEvent::kReadEnds | PortEvent::kWriteEnds, STATUS_CANCELLED, 0});
    if ((rxHoldReasons & kRxHoldXoffSent) != 0) {
        rxHoldReasons = static_cast<UCHAR>(rxHoldReasons & ~kRxHoldXoffSent);
        sendXon = true;
        sendXoff = false;
        StartTransmit();
    }
    DrainStep(kDrainCloseRequested);
    return true;
}

NTSTATUS SerialPort::DispatchCleanup(PIRP irp) {
    PFILE_OBJECT file = IoGetCurrentIrpStackLocation(irp)->FileObject;
    // The queues and every held request of the file (wait, immediate character).
    CleanupAll(file, STATUS_CANCELLED);
    // The close request comes only once the file's last request has ended, so a
    // current read or write of the file that waits for more data would keep it
    // from ever coming: they end here, as the close would end them.
    WithPortLock([this, file] {
        ULONG ends = 0;
        if (currentRead != nullptr &&
            IoGetCurrentIrpStackLocation(currentRead)->FileObject == file) {
            ends |= PortEvent::kReadEnds;
        }
        if (currentWrite != nullptr &&
            IoGetCurrentIrpStackLocation(currentWrite)->FileObject == file) {
            ends |= PortEvent::kWriteEnds;
        }
        if (ends != 0) PostEvent({ends, STATUS_CANCELLED, 0});
    });
    return framework::Complete(irp, STATUS_SUCCESS, 0);
}

NTSTATUS SerialPort::DispatchQueryInformation(PIRP irp) {
    if (const NTSTATUS refused = EntryRefusal(); !NT_SUCCESS(refused)) {
        return framework::Complete(irp, refused, 0);
    }
    // No file information is reported: the standard and position records are
    // cleared (when the buffer holds them), yet every query, those two included,
    // is refused with no data, the answer existing callers know.
    const PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG length = stack->Parameters.QueryFile.Length;
    PVOID buffer = irp->AssociatedIrp.SystemBuffer;
    ULONG recordSize = 0;
    if (stack->Parameters.QueryFile.FileInformationClass == FileStandardInformation) {
        recordSize = kFileStandardInformationSize;
    } else if (stack->Parameters.QueryFile.FileInformationClass == FilePositionInformation) {
        recordSize = kFilePositionInformationSize;
    }
    if (recordSize != 0 && buffer != nullptr && length >= recordSize) {
        RtlZeroMemory(buffer, recordSize);
    }
    return framework::Complete(irp, STATUS_INVALID_PARAMETER, 0);
}

NTSTATUS SerialPort::DispatchSetInformation(PIRP irp) {
    if (const NTSTATUS refused = EntryRefusal(); !NT_SUCCESS(refused)) {
        return framework::Complete(irp, refused, 0);
    }
    // Accepted and ignored: nothing is stored.
    const FILE_INFORMATION_CLASS informationClass =
        IoGetCurrentIrpStackLocation(irp)->Parameters.SetFile.FileInformationClass;
    const bool accepted =
        informationClass == FileStandardInformation || informationClass == FilePositionInformation;
    return framework::Complete(irp, accepted ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER, 0);
}

void SerialPort::FreeReceiveBuffer() {
    UCHAR* storage = rxBuffer;
    rxBuffer = nullptr;
    rxBufferSize = 0;
    rxFirst = 0;
    rxNext = 0;
    rxCount = 0;
    framework::PoolFree(storage);
}

}  // namespace serial
