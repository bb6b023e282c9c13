// The device-control and internal dispatchers and the request starter of the
// three queues.
#include "framework/irp_helpers.h"
#include "framework/pool.h"
#include "framework/work_item.h"
#include "serial/serial_port.h"

namespace serial {

// A control code processed at PASSIVE_LEVEL because it arrived above the
// port's inline IRQL.
class DeferredControlCode : public framework::WorkItem {
  public:
    DeferredControlCode(SerialPort* port, PIRP irp, bool internal)
        : port_(port), irp_(irp), internal_(internal) {}

  protected:
    void Run(PVOID) override { port_->ProcessAndComplete(irp_, internal_); }

  private:
    SerialPort* port_;
    PIRP irp_;
    bool internal_;
};

bool SerialPort::ErrorAbortInForce() const {
    return errorFlags != 0 && (activeControlHandShake & SERIAL_ERROR_ABORT) != 0;
}

NTSTATUS SerialPort::EntryRefusal() const {
    if (!IsOpen()) return STATUS_INVALID_DEVICE_REQUEST;
    return ErrorAbortInForce() ? STATUS_CANCELLED : STATUS_SUCCESS;
}

NTSTATUS SerialPort::DispatchDeviceControl(PIRP irp) {
    irp->IoStatus.Information = 0;
    if (!IsOpen()) return framework::Complete(irp, STATUS_INVALID_DEVICE_REQUEST, 0);
    const ULONG code = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode;
    const UCHAR path = IsCustomCode(code) ? ClassifyIoctl(code) : TablePath(code);
    if (ErrorAbortInForce() && code != IOCTL_SERIAL_GET_COMMSTATUS) {
        return framework::Complete(irp, STATUS_CANCELLED, 0);
    }
    if ((path & kPathPreprocess) != 0) {
        bool completed = false;
        const NTSTATUS status = PreprocessControlCode(irp, code, &completed);
        if (completed) return status;
    }
    return ProcessOnPath(irp, path, false);
}

NTSTATUS SerialPort::DispatchInternalDeviceControl(PIRP irp) {
    irp->IoStatus.Information = 0;
    if (ErrorAbortInForce()) return framework::Complete(irp, STATUS_CANCELLED, 0);
    const ULONG code = IoGetCurrentIrpStackLocation(irp)->Parameters.DeviceIoControl.IoControlCode;
    if (IsCustomCode(code)) return ProcessOnPath(irp, ClassifyInternalIoctl(code), true);
    switch (code) {
        case IOCTL_SERIAL_INTERNAL_DO_WAIT_WAKE:
            (void)UpdateWaitWake(framework::WaitWakeOperation::Enable);
            return framework::Complete(irp, STATUS_SUCCESS, 0);
        case IOCTL_SERIAL_INTERNAL_CANCEL_WAIT_WAKE:
            (void)UpdateWaitWake(framework::WaitWakeOperation::Disable);
            return framework::Complete(irp, STATUS_SUCCESS, 0);
        case IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS:
        case IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS:
            return QueueOnPath(irp, kPathControlQueue);
        default:
            return framework::Complete(irp, STATUS_INVALID_PARAMETER, 0);
    }
}

NTSTATUS SerialPort::PreprocessControlCode(PIRP irp, ULONG code, bool* completed) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    *completed = false;
    if (code == IOCTL_SERIAL_SET_QUEUE_SIZE) {
        *completed = true;
        if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(SERIAL_QUEUE_SIZE)) {
            return framework::Complete(irp, STATUS_BUFFER_TOO_SMALL, 0);
        }
        const ULONG size = static_cast<SERIAL_QUEUE_SIZE*>(irp->AssociatedIrp.SystemBuffer)->InSize;
        if (size <= rxBufferSize) return framework::Complete(irp, STATUS_SUCCESS, 0);
        // The larger storage is allocated when the request is processed.
        *completed = false;
        return STATUS_SUCCESS;
    }
    if (code == IOCTL_SERIAL_XOFF_COUNTER) OnWriteQueued();
    return STATUS_SUCCESS;
}

NTSTATUS SerialPort::ProcessOnPath(PIRP irp, UCHAR path, bool internal) {
    switch (path & kPathMask) {
        case kPathControlQueue:
        case kPathReadQueue:
        case kPathWriteQueue:
            return QueueOnPath(irp, path & kPathMask);
        default:
            break;
    }
    if (KeGetCurrentIrql() <= maxInlineIrql) return ProcessAndComplete(irp, internal);
    auto* work =
        framework::WorkItem::Create<DeferredControlCode>(DeviceObject(), this, irp, internal);
    if (work == nullptr) return framework::Complete(irp, STATUS_INSUFFICIENT_RESOURCES, 0);
    IoMarkIrpPending(irp);
    work->Queue();
    return STATUS_PENDING;
}

NTSTATUS SerialPort::ProcessAndComplete(PIRP irp, bool internal) {
    ULONG_PTR information = 0;
    const NTSTATUS status = internal ? HandleOtherInternalIoctl(irp, &information)
                                     : ProcessControlCode(irp, &information);
    if (status == STATUS_PENDING) return status;
    return framework::Complete(irp, status, information);
}

NTSTATUS SerialPort::QueueOnPath(PIRP irp, ULONG queue) {
    const NTSTATUS status = PowerUp(KeGetCurrentIrql() == PASSIVE_LEVEL);
    if (!NT_SUCCESS(status)) return framework::Complete(irp, status, 0);
    IoMarkIrpPending(irp);
    Queue(queue)->QueueRequest(irp);
    return STATUS_PENDING;
}

ULONG SerialPort::QueueOfRequest(PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    switch (stack->MajorFunction) {
        case IRP_MJ_READ:
            return kReadQueue;
        case IRP_MJ_WRITE:
        case IRP_MJ_FLUSH_BUFFERS:
            return kWriteQueue;
        case IRP_MJ_DEVICE_CONTROL: {
            const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
            const UCHAR path = IsCustomCode(code) ? ClassifyIoctl(code) : TablePath(code);
            return (path & kPathMask) <= kPathWriteQueue ? (path & kPathMask) : kControlQueue;
        }
        case IRP_MJ_INTERNAL_DEVICE_CONTROL: {
            const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
            const UCHAR path = IsCustomCode(code) ? ClassifyInternalIoctl(code) : kPathControlQueue;
            return (path & kPathMask) <= kPathWriteQueue ? (path & kPathMask) : kControlQueue;
        }
        default:
            return kControlQueue;
    }
}

VOID SerialPort::StartRequest(PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const UCHAR major = stack->MajorFunction;
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG queue = QueueOfRequest(irp);
    irp->IoStatus.Information = 0;

    NTSTATUS status = STATUS_INVALID_DEVICE_REQUEST;
    ULONG_PTR information = 0;
    bool tookOver = false;
    if (ErrorAbortInForce() &&
        !(major == IRP_MJ_DEVICE_CONTROL && code == IOCTL_SERIAL_GET_COMMSTATUS)) {
        status = STATUS_CANCELLED;
    } else if (major == IRP_MJ_READ || major == IRP_MJ_WRITE ||
               (major == IRP_MJ_DEVICE_CONTROL && code == IOCTL_SERIAL_XOFF_COUNTER)) {
        status = major == IRP_MJ_DEVICE_CONTROL ? CheckXoffCounter(irp) : STATUS_SUCCESS;
        if (NT_SUCCESS(status)) {
            tookOver = WithPortLock([this, irp, major] {
                           return major == IRP_MJ_READ ? StartRead(irp) : StartWrite(irp);
                       }) != 0;
            if (tookOver) return;  // the request may be completed already
            status = irp->IoStatus.Status;
            information = irp->IoStatus.Information;
        }
    } else if (major == IRP_MJ_FLUSH_BUFFERS) {
        StartFlush(irp);
        return;  // the flush completes after the drain and restarts the queue then
    } else if (major == IRP_MJ_DEVICE_CONTROL) {
        status = ProcessControlCode(irp, &information);
    } else if (major == IRP_MJ_INTERNAL_DEVICE_CONTROL) {
        status = IsCustomCode(code) ? HandleOtherInternalIoctl(irp, &information)
                                    : ProcessInternalSettings(irp, &information);
    }
    if (tookOver) return;  // the queue moves on when the request completes
    if (status != STATUS_PENDING) {
        irp->IoStatus.Status = status;
        irp->IoStatus.Information = information;
        IoCompleteRequest(irp, IO_SERIAL_INCREMENT);
    }
    (void)RequestGiveUp(queue);
}

NTSTATUS SerialPort::CheckXoffCounter(PIRP irp) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    irp->IoStatus.Information = 0;
    if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof(SERIAL_XOFF_COUNTER)) {
        irp->IoStatus.Status = STATUS_BUFFER_TOO_SMALL;
    } else if (static_cast<SERIAL_XOFF_COUNTER*>(irp->AssociatedIrp.SystemBuffer)->Counter <= 0) {
        irp->IoStatus.Status = STATUS_INVALID_PARAMETER;
    } else {
        irp->IoStatus.Status = STATUS_SUCCESS;
    }
    return irp->IoStatus.Status;
}

}  // namespace serial
