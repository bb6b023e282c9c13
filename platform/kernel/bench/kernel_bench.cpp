// What one IRP round trip, one work item and one DPC cost in the simulated
// kernel, so that driver code can be measured against this floor.
#include <benchmark/benchmark.h>

#include "sim/io.h"
#include "sim/system.h"
#include "wdm.h"

namespace {

NTSTATUS CompleteAtOnce(PDEVICE_OBJECT, PIRP irp) {
    irp->IoStatus.Status = STATUS_SUCCESS;
    irp->IoStatus.Information = 0;
    IoCompleteRequest(irp, IO_NO_INCREMENT);
    return STATUS_SUCCESS;
}

NTSTATUS Entry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    for (auto& entry : driver->MajorFunction) entry = CompleteAtOnce;
    return STATUS_SUCCESS;
}

struct BenchDevice {
    BenchDevice() {
        driver = sim::LoadDriver(u"\\Driver\\Bench", Entry, u"\\Registry\\Machine\\Bench");
        IoCreateDevice(driver, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &device);
        device->Flags &= ~DO_DEVICE_INITIALIZING;
    }
    ~BenchDevice() {
        IoDeleteDevice(device);
        sim::UnloadDriver(driver);
    }
    PDRIVER_OBJECT driver = nullptr;
    PDEVICE_OBJECT device = nullptr;
};

constexpr ULONG kCode = CTL_CODE(FILE_DEVICE_UNKNOWN, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);

// Build, dispatch and complete a threaded device-control IRP with an 8-byte
// buffered input and output.
void IrpRoundTrip(benchmark::State& state) {
    sim::System system;
    BenchDevice bench;
    char buffer[8] = {};
    for (auto _ : state) {
        KEVENT event;
        KeInitializeEvent(&event, NotificationEvent, FALSE);
        IO_STATUS_BLOCK status;
        PIRP irp = IoBuildDeviceIoControlRequest(kCode, bench.device, buffer, sizeof buffer, buffer,
                                                 sizeof buffer, FALSE, &event, &status);
        benchmark::DoNotOptimize(IoCallDriver(bench.device, irp));
    }
}
BENCHMARK(IrpRoundTrip);

// A driver-allocated IRP reused for every round trip, kept by its completion routine.
void ReusedIrpRoundTrip(benchmark::State& state) {
    sim::System system;
    BenchDevice bench;
    PIRP irp = IoAllocateIrp(bench.device->StackSize, FALSE);
    for (auto _ : state) {
        IoReuseIrp(irp, STATUS_SUCCESS);
        IoGetNextIrpStackLocation(irp)->MajorFunction = IRP_MJ_INTERNAL_DEVICE_CONTROL;
        IoSetCompletionRoutine(
            irp,
            [](PDEVICE_OBJECT, PIRP, PVOID) -> NTSTATUS { return STATUS_MORE_PROCESSING_REQUIRED; },
            nullptr, TRUE, TRUE, TRUE);
        benchmark::DoNotOptimize(IoCallDriver(bench.device, irp));
    }
    IoFreeIrp(irp);
}
BENCHMARK(ReusedIrpRoundTrip);

// Queue an I/O work item and wait until its routine has run in a worker.
void WorkItem(benchmark::State& state) {
    sim::System system;
    BenchDevice bench;
    PIO_WORKITEM item = IoAllocateWorkItem(bench.device);
    KEVENT done;
    KeInitializeEvent(&done, SynchronizationEvent, FALSE);
    for (auto _ : state) {
        IoQueueWorkItem(
            item,
            [](PDEVICE_OBJECT, PVOID context) {
                KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
            },
            DelayedWorkQueue, &done);
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    }
    sim::Settle();
    IoFreeWorkItem(item);
}
BENCHMARK(WorkItem);

// Queue a DPC and wait until it has run on its processor.
void Dpc(benchmark::State& state) {
    sim::System system;
    KEVENT done;
    KeInitializeEvent(&done, SynchronizationEvent, FALSE);
    KDPC dpc;
    KeInitializeDpc(
        &dpc,
        [](PKDPC, PVOID context, PVOID, PVOID) {
            KeSetEvent(static_cast<PKEVENT>(context), IO_NO_INCREMENT, FALSE);
        },
        &done);
    for (auto _ : state) {
        KeInsertQueueDpc(&dpc, nullptr, nullptr);
        KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    }
    sim::Settle();
}
BENCHMARK(Dpc);

// Set a timer one tick ahead and advance the clock past it.
void TimerExpiry(benchmark::State& state) {
    sim::System system;
    KTIMER timer;
    KeInitializeTimer(&timer);
    for (auto _ : state) {
        LARGE_INTEGER due;
        due.QuadPart = -1;
        KeSetTimer(&timer, due, nullptr);
        sim::AdvanceTime(KeQueryTimeIncrement());
    }
}
BENCHMARK(TimerExpiry);

}  // namespace

BENCHMARK_MAIN();
