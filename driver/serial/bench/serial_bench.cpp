// Receive throughput of the serial port: deliveries through PutReceived into a
// pending read and into the receive ring, and a write/read round trip through
// the test port. Besides bytes per second each benchmark reports the pool
// allocations per delivery (goal: none on the receive and event path).
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

#include "../tests/serial_fixture.h"
#include "framework/pool.h"
#include "sim/faults.h"

namespace serial::testing {
namespace {

constexpr ULONG kRingSize = 16 * 1024;

// The driver loaded on the simulated system with one open port whose ring can
// take the largest delivery, eight data bits and reads that wait for all bytes.
class OpenPort {
  public:
    OpenPort() {
        sim::registry::Reset();
        bus_ = sim::LoadDriver(u"\\Driver\\zovbus", &BusEntry, u"");
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        driver_ = sim::LoadDriver(u"\\Driver\\zovusb", &DriverEntry, kServiceKey, &status);
        if (bus_ == nullptr || !NT_SUCCESS(status) ||
            IoCreateDevice(bus_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &pdo_) !=
                STATUS_SUCCESS) {
            return;
        }
        pdo_->Flags &= ~DO_DEVICE_INITIALIZING;
        sim::registry::SetString(sim::registry::DeviceKeyPath(pdo_, PLUGPLAY_REGKEY_DEVICE),
                                 u"PortName", kPortName);
        if (framework::AddDevice(driver_, pdo_) != STATUS_SUCCESS) return;
        port = TestPort::last;
        file =
            win32::CreateFileW(kPortDeviceName, win32::GENERIC_READ | win32::GENERIC_WRITE, 0,
                               nullptr, win32::OPEN_EXISTING, win32::FILE_FLAG_OVERLAPPED, nullptr);
        if (file == win32::INVALID_HANDLE_VALUE) return;
        const SERIAL_QUEUE_SIZE size{kRingSize, 0};
        const SERIAL_LINE_CONTROL eightBits{0, 0, 8};
        const SERIAL_TIMEOUTS waitForAll{};
        ready = Control(IOCTL_SERIAL_SET_QUEUE_SIZE, &size, sizeof size) &&
                Control(IOCTL_SERIAL_SET_LINE_CONTROL, &eightBits, sizeof eightBits) &&
                Control(IOCTL_SERIAL_SET_TIMEOUTS, &waitForAll, sizeof waitForAll);
    }
    ~OpenPort() {
        // The close waits for its drain on the virtual clock.
        sim::SetAutoAdvance(true);
        if (file != win32::INVALID_HANDLE_VALUE) (void)win32::CloseHandle(file);
        sim::Settle();
        if (driver_ != nullptr) sim::UnloadDriver(driver_);
        while (bus_ != nullptr && bus_->DeviceObject != nullptr) IoDeleteDevice(bus_->DeviceObject);
        if (bus_ != nullptr) sim::UnloadDriver(bus_);
    }
    OpenPort(const OpenPort&) = delete;
    OpenPort& operator=(const OpenPort&) = delete;

    bool Control(ULONG code, const void* in, ULONG length) {
        Pending request;
        request.Control(file, code, in, length);
        request.Wait();
        return request.Status() == STATUS_SUCCESS;
    }

    ULONG Deliver(const UCHAR* bytes, ULONG count) {
        ULONG accepted = 0;
        port->Locked([&] { accepted = port->PutReceived(bytes, count, false); });
        return accepted;
    }

    TestPort* port = nullptr;
    HANDLE file = win32::INVALID_HANDLE_VALUE;
    bool ready = false;

  private:
    sim::System system_;
    PDRIVER_OBJECT bus_ = nullptr;
    PDRIVER_OBJECT driver_ = nullptr;
    PDEVICE_OBJECT pdo_ = nullptr;
};

// Pool allocations counted only while the benchmark is timed: those of the
// driver (its tag) and those of every tag (the I/O manager's system buffers).
class AllocationCounter {
  public:
    void Start() {
        driverStart_ = sim::AllocationCalls(sim::FaultSite::Pool, framework::kPoolTag);
        allStart_ = sim::AllocationCalls(sim::FaultSite::Pool);
    }
    void Stop() {
        driver_ += sim::AllocationCalls(sim::FaultSite::Pool, framework::kPoolTag) - driverStart_;
        all_ += sim::AllocationCalls(sim::FaultSite::Pool) - allStart_;
    }
    void Report(benchmark::State& state, ULONG deliverySize) const {
        const auto deliveries = static_cast<double>(state.iterations());
        state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * deliverySize);
        if (deliveries == 0) return;
        state.counters["driver_pool_allocs_per_delivery"] =
            static_cast<double>(driver_) / deliveries;
        state.counters["all_pool_allocs_per_delivery"] = static_cast<double>(all_) / deliveries;
    }

  private:
    std::uint64_t driverStart_ = 0;
    std::uint64_t allStart_ = 0;
    std::uint64_t driver_ = 0;
    std::uint64_t all_ = 0;
};

// Into the ring; emptied (PURGE_RXCLEAR) whenever the next delivery would not fit.
void BM_PutReceivedIntoRing(benchmark::State& state) {
    const auto size = static_cast<ULONG>(state.range(0));
    OpenPort open;
    if (!open.ready) {
        state.SkipWithError("port not ready");
        return;
    }
    const std::string bytes(size, 'r');
    const auto* data = reinterpret_cast<const UCHAR*>(bytes.data());
    AllocationCounter allocations;
    allocations.Start();
    for (auto _ : state) {
        if (open.Deliver(data, size) != size) {
            state.SkipWithError("delivery not accepted");
            break;
        }
        ULONG buffered = 0;
        open.port->Locked([&] { buffered = open.port->rxCount; });
        if (buffered + size > kRingSize)
            open.port->Locked([&] { open.port->Purge(PURGE_RXCLEAR); });
    }
    allocations.Stop();
    allocations.Report(state, size);
}

// Into a pending read of many deliveries; ending and re-issuing it is not timed.
void BM_PutReceivedIntoRead(benchmark::State& state) {
    const auto size = static_cast<ULONG>(state.range(0));
    const ULONG deliveriesPerRead = size >= 4096 ? 256 : 65536;
    OpenPort open;
    if (!open.ready) {
        state.SkipWithError("port not ready");
        return;
    }
    const std::string bytes(size, 'p');
    const auto* data = reinterpret_cast<const UCHAR*>(bytes.data());
    AllocationCounter allocations;
    auto read = std::make_unique<Pending>();
    (void)read->Read(open.file, size * deliveriesPerRead);
    sim::Settle();
    ULONG delivered = 0;
    allocations.Start();
    for (auto _ : state) {
        (void)open.Deliver(data, size);
        if (++delivered == deliveriesPerRead) {
            // The read ends here: its completion runs in the action runner.
            sim::Settle();
            allocations.Stop();
            state.PauseTiming();
            if (read->Status() != STATUS_SUCCESS) {
                state.SkipWithError("read did not end");
                break;
            }
            read = std::make_unique<Pending>();
            (void)read->Read(open.file, size * deliveriesPerRead);
            sim::Settle();
            delivered = 0;
            state.ResumeTiming();
            allocations.Start();
        }
    }
    allocations.Stop();
    // Ends the read still pending.
    open.port->Locked([&] { open.port->Purge(PURGE_RXABORT); });
    sim::Settle();
    allocations.Report(state, size);
}

// WriteFile through the test port's transmitter, the bytes delivered back and
// read with ReadFile: the whole path of requests, completions and copies.
void BM_ReadWriteRoundTrip(benchmark::State& state) {
    const auto size = static_cast<ULONG>(state.range(0));
    OpenPort open;
    if (!open.ready) {
        state.SkipWithError("port not ready");
        return;
    }
    const std::string bytes(size, 'w');
    AllocationCounter allocations;
    allocations.Start();
    for (auto _ : state) {
        Pending read;
        Pending write;
        (void)read.Read(open.file, size);
        (void)write.Write(open.file, bytes);
        write.Wait();
        // The write can end before the transmitter has recorded its last bytes,
        // and before its event is signalled.
        sim::Settle();
        if (write.Status() != STATUS_SUCCESS) {
            state.SkipWithError("write failed");
            sim::Settle();
            const ULONG abort = PURGE_RXABORT;
            (void)open.Control(IOCTL_SERIAL_PURGE, &abort, sizeof abort);
            read.Wait();
            break;
        }
        const std::string sent = open.port->Sent();
        open.port->ClearRecords();
        (void)open.Deliver(reinterpret_cast<const UCHAR*>(sent.data()),
                           static_cast<ULONG>(sent.size()));
        read.Wait();
        if (read.Information() != size) {
            state.SkipWithError("read came back short");
            break;
        }
    }
    allocations.Stop();
    allocations.Report(state, size);
}

// Wall-clock rates: completions run in the system's worker threads.
BENCHMARK(BM_PutReceivedIntoRing)->Arg(1)->Arg(64)->Arg(8192)->UseRealTime();
BENCHMARK(BM_PutReceivedIntoRead)->Arg(1)->Arg(64)->Arg(8192)->UseRealTime();
BENCHMARK(BM_ReadWriteRoundTrip)->Arg(1)->Arg(64)->Arg(8192)->UseRealTime();

}  // namespace
}  // namespace serial::testing

BENCHMARK_MAIN();
