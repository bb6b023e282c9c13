// A serial port with a scriptable hardware side (TestPort), loaded as the
// driver it is, and a fixture that opens it through the file API. The hardware
// side records what the transmit source gives it and every DTR/RTS and
// line-coding change, and feeds received bytes, modem status and line status.
// Included by one source file per test program (it defines AddDevice).
#pragma once

#include <gtest/gtest.h>

#include <wdm.h>

#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "framework/driver_entry.h"
#include "framework/driver_globals.h"
#include "framework/irp_helpers.h"
#include "serial/serial_port.h"
#include "sim/io.h"
#include "sim/irp_log_on_failure.h"
#include "sim/registry.h"
#include "sim/system.h"
#include "win32/fileapi.h"

namespace serial::testing {

inline constexpr const char16_t* kServiceKey =
    u"\\Registry\\Machine\\System\\CurrentControlSet\\Services\\zovusb";
inline constexpr const char16_t* kPortDeviceName = u"\\Device\\ZovSerialTest";
inline constexpr const char16_t* kPortName = u"COM5";
inline constexpr const char16_t* kPortsKey =
    u"\\Registry\\Machine\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

// One change the port made to its hardware.
struct HardwareChange {
    enum class Kind { Dtr, Rts, BaudRate, LineControl, FifoControl };
    Kind kind;
    ULONG value;  // 0/1 for the lines
    bool operator==(const HardwareChange&) const = default;
};

class TestPort : public SerialPort {
  public:
    // How the next port is built (set before AddDevice).
    struct Options {
        Options() {}
        // Bytes StartTransmit takes from the transmit source in one go; 0 leaves
        // them for the test to take with Transmit().
        ULONG transferSize = 64;
        // Rates ValidateBaudRate refuses (STATUS_INVALID_PARAMETER).
        std::vector<ULONG> refusedRates;
        NTSTATUS powerUpStatus = STATUS_SUCCESS;
        NTSTATUS openStatus = STATUS_SUCCESS;
        bool openSettingsResult = true;
    };
    static inline Options nextOptions;
    static inline TestPort* last = nullptr;

    TestPort(const framework::DeviceCreation& creation, PDEVICE_OBJECT physicalDevice)
        : SerialPort(creation, physicalDevice), options_(nextOptions) {}
    ~TestPort() override { ShutdownPort(); }

    [[nodiscard]] NTSTATUS Initialize() override {
        InitializePort(framework::StartPolicy::Passive);
        maxInlineIrql = PASSIVE_LEVEL;
        NTSTATUS status = AssignPortName();
        if (!NT_SUCCESS(status)) return status;
        DeviceObject()->Flags |= DO_BUFFERED_IO;
        status = PnpDevice::Initialize();
        if (!NT_SUCCESS(status)) return status;
        // Started and in D0, as plug-and-play would leave it.
        pnpState_ = framework::PnpState::Started;
        UnstallAll();
        EnableAllInterfaces(true);
        return status;
    }

    // ---- the port lock ----------------------------------------------------------
    UCHAR RunLocked(LockedRoutine routine, PVOID argument) override {
        framework::RecursiveMutexGuard guard(portLock_);
        return routine(*this, argument);
    }
    UCHAR RunLocked(LockedRoutineNoArgument routine) override {
        framework::RecursiveMutexGuard guard(portLock_);
        return routine(*this);
    }

    // ---- the hardware side --------------------------------------------------------
    NTSTATUS ValidateBaudRate(ULONG rate, ULONG* converted) override {
        for (ULONG refused : options_.refusedRates) {
            if (rate == refused) return STATUS_INVALID_PARAMETER;
        }
        *converted = rate;
        return STATUS_SUCCESS;
    }
    bool ClearDtr() override { return SetLine(kModemControlDtr, false); }
    bool ClearRts() override { return SetLine(kModemControlRts, false); }
    bool SetDtr() override { return SetLine(kModemControlDtr, true); }
    bool SetRts() override { return SetLine(kModemControlRts, true); }
    bool SetModemControl(ULONG value) override {
        SetLine(kModemControlDtr, (value & kModemControlDtr) != 0);
        SetLine(kModemControlRts, (value & kModemControlRts) != 0);
        return true;
    }
    bool GetModemStatus(ULONG* status) override {
        if (status != nullptr) *status = modemStatus;
        return true;
    }
    ULONG TransmitterBusy() override { return transmitterBusy; }
    void StartTransmit() override {
        ++startTransmitCalls;
        if (options_.transferSize == 0 || !transmitting) return;
        UCHAR block[4096];
        for (;;) {
            const ULONG size =
                options_.transferSize < sizeof block ? options_.transferSize : ULONG{sizeof block};
            const ULONG taken = TakeTransmitBytes(block, size);
            if (taken == 0) break;
            RecordSent(block, taken);
        }
    }
    bool ApplyBaudRate(ULONG converted) override {
        Record({HardwareChange::Kind::BaudRate, converted});
        return true;
    }
    bool ApplyLineControl(UCHAR value) override {
        dataMask = DataMaskTable[value & 3];
        Record({HardwareChange::Kind::LineControl, value});
        return true;
    }
    bool SetFifoControl(ULONG value) override {
        Record({HardwareChange::Kind::FifoControl, value});
        return true;
    }
    [[nodiscard]] NTSTATUS PowerUp(bool) override {
        ++powerUpCalls;
        return options_.powerUpStatus;
    }
    [[nodiscard]] NTSTATUS RequestDevicePower(DEVICE_POWER_STATE state, bool) override {
        lastRequestedPower = state;
        return STATUS_SUCCESS;
    }
    [[nodiscard]] NTSTATUS OnOpen(PIRP irp) override {
        return NT_SUCCESS(options_.openStatus) ? SerialPort::OnOpen(irp) : options_.openStatus;
    }
    bool OnOpenSettings() override {
        return SerialPort::OnOpenSettings() && options_.openSettingsResult;
    }

    [[nodiscard]] NTSTATUS HandleOtherIoctl(PIRP irp, ULONG_PTR* information) override {
        return otherIoctl ? otherIoctl(irp) : SerialPort::HandleOtherIoctl(irp, information);
    }
    void HandleOtherAction(PortAction& action) override {
        if (otherAction) otherAction(action);
    }

    // ---- test controls (each takes the port lock, at PASSIVE_LEVEL) ------------
    ULONG Receive(const std::string& bytes, bool raw = false) {
        ULONG accepted = 0;
        WithPortLock([&] {
            accepted = PutReceived(reinterpret_cast<const UCHAR*>(bytes.data()),
                                   static_cast<ULONG>(bytes.size()), raw);
        });
        return accepted;
    }
    void ReportModemStatus(UCHAR status) {
        WithPortLock([&] {
            modemStatus = status;
            ProcessModemStatus(status);
        });
    }
    void ReportLineStatus(UCHAR lineStatus) {
        WithPortLock([&] { ProcessLineStatus(lineStatus); });
    }
    // Takes up to `maximum` bytes from the transmit source now.
    std::string Transmit(ULONG maximum) {
        std::string bytes(maximum, '\0');
        ULONG taken = 0;
        WithPortLock([&] {
            taken = TakeTransmitBytes(reinterpret_cast<UCHAR*>(bytes.data()), maximum);
            if (taken != 0) RecordSent(reinterpret_cast<const UCHAR*>(bytes.data()), taken);
        });
        bytes.resize(taken);
        return bytes;
    }
    // Runs `body` with the port lock held, for reading or setting state.
    template <typename Body>
    void Locked(Body&& body) {
        WithPortLock(body);
    }

    [[nodiscard]] bool PortLockHeld() const { return portLock_.IsOwnedByCurrentThread(); }

    // Both wait for the port lock first: the hardware side records under it, and
    // a write may complete before the recording of its last bytes is done.
    [[nodiscard]] std::string Sent() {
        WithPortLock([] {});
        std::lock_guard guard(mutex_);
        return sent_;
    }
    [[nodiscard]] std::vector<HardwareChange> Changes() {
        WithPortLock([] {});
        std::lock_guard guard(mutex_);
        return changes_;
    }
    void ClearRecords() {
        std::lock_guard guard(mutex_);
        sent_.clear();
        changes_.clear();
    }

    // State for tests; read it after sim::Settle() or inside Locked().
    using SerialPort::activeControlHandShake;
    using SerialPort::activeFlowReplace;
    using SerialPort::activeWaitMask;
    using SerialPort::baudRate;
    using SerialPort::currentRead;
    using SerialPort::currentWrite;
    using SerialPort::dataMask;
    using SerialPort::drainState;
    using SerialPort::errorFlags;
    using SerialPort::escapeChar;
    using SerialPort::eventHistory;
    using SerialPort::handFlow;
    using SerialPort::lineControl;
    using SerialPort::modemControl;
    using SerialPort::modemStatus;
    using SerialPort::openCount;
    using SerialPort::perfStats;
    using SerialPort::portActive;
    using SerialPort::portName;
    using SerialPort::rxBufferSize;
    using SerialPort::rxCount;
    using SerialPort::rxFirst;
    using SerialPort::rxHoldReasons;
    using SerialPort::rxNext;
    using SerialPort::sendXoff;
    using SerialPort::sendXon;
    using SerialPort::serialCommWritten;
    using SerialPort::specialChars;
    using SerialPort::timeouts;
    using SerialPort::txHoldReasons;
    using SerialPort::waitMask;

    // Answers custom control codes (STATUS_PENDING keeps the request).
    std::function<NTSTATUS(PIRP)> otherIoctl;
    // Runs in the action runner for action types the engine does not know.
    std::function<void(PortAction&)> otherAction;
    using SerialPort::PostAction;

    // False: StartTransmit takes nothing (bytes stay with the current write).
    std::atomic<bool> transmitting{true};
    std::atomic<ULONG> transmitterBusy{0};
    std::atomic<int> startTransmitCalls{0};
    std::atomic<int> powerUpCalls{0};
    std::atomic<DEVICE_POWER_STATE> lastRequestedPower{PowerDeviceUnspecified};

  private:
    bool SetLine(UCHAR bit, bool on) {
        if (on) {
            modemControl = static_cast<UCHAR>(modemControl | bit);
        } else {
            modemControl = static_cast<UCHAR>(modemControl & ~bit);
        }
        Record({bit == kModemControlDtr ? HardwareChange::Kind::Dtr : HardwareChange::Kind::Rts,
                on ? ULONG{1} : ULONG{0}});
        return true;
    }
    void Record(HardwareChange change) {
        std::lock_guard guard(mutex_);
        changes_.push_back(change);
    }
    void RecordSent(const UCHAR* bytes, ULONG count) {
        std::lock_guard guard(mutex_);
        sent_.append(reinterpret_cast<const char*>(bytes), count);
    }

    Options options_;
    framework::RecursiveMutex portLock_;
    std::mutex mutex_;
    std::string sent_;
    std::vector<HardwareChange> changes_;
};

}  // namespace serial::testing

namespace framework {

NTSTATUS AddDevice(PDRIVER_OBJECT driverObject, PDEVICE_OBJECT physicalDeviceObject) {
    serial::testing::TestPort* port = nullptr;
    serial::testing::TestPort::last = nullptr;
    CountedString name;
    try {
        name.Assign(serial::testing::kPortDeviceName);  // raises without memory
    } catch (const kernel::StatusException& raised) {
        return raised.Status();
    }
    const NTSTATUS status =
        CreateDeviceAndInitialize(&port, driverObject, name, FILE_DEVICE_SERIAL_PORT,
                                  FILE_DEVICE_SECURE_OPEN, physicalDeviceObject);
    serial::testing::TestPort::last = port;
    return status;
}

}  // namespace framework

namespace serial::testing {

inline NTSTATUS BusDispatch(PDEVICE_OBJECT, PIRP irp) {
    return framework::Complete(irp, STATUS_NOT_SUPPORTED, 0);
}

inline NTSTATUS BusEntry(PDRIVER_OBJECT driver, PUNICODE_STRING) {
    for (auto& entry : driver->MajorFunction) entry = &BusDispatch;
    return STATUS_SUCCESS;
}

// A request of the file API in flight, with its own event and buffer.
class Pending {
  public:
    Pending() : event_(win32::CreateEventW(nullptr, TRUE, FALSE, nullptr)) {
        overlapped_.hEvent = event_;
    }
    ~Pending() { (void)win32::CloseHandle(event_); }
    Pending(const Pending&) = delete;
    Pending& operator=(const Pending&) = delete;

    // Each returns false when the call failed at once (Status() tells why).
    bool Read(HANDLE file, ULONG length) {
        file_ = file;
        buffer_.assign(length, '\0');
        return Issued(win32::ReadFile(file, buffer_.data(), length, nullptr, &overlapped_));
    }
    bool Write(HANDLE file, const std::string& bytes) {
        file_ = file;
        buffer_ = bytes;
        return Issued(win32::WriteFile(file, buffer_.data(),
                                       static_cast<win32::DWORD>(buffer_.size()), nullptr,
                                       &overlapped_));
    }
    bool Control(HANDLE file, ULONG code, const void* in = nullptr, ULONG inLength = 0,
                 ULONG outLength = 0) {
        file_ = file;
        input_.assign(static_cast<const char*>(in), static_cast<const char*>(in) + inLength);
        buffer_.assign(outLength, '\0');
        return Issued(win32::DeviceIoControl(file, code, input_.empty() ? nullptr : input_.data(),
                                             inLength, buffer_.empty() ? nullptr : buffer_.data(),
                                             outLength, nullptr, &overlapped_));
    }

    [[nodiscard]] bool Done() const {
        return failedAtOnce_ || win32::WaitForSingleObject(event_, 0) == win32::WAIT_OBJECT_0;
    }
    // Blocks (in a kernel wait, so auto-advance moves the clock through it).
    void Wait() {
        if (failedAtOnce_) return;
        win32::DWORD transferred = 0;
        (void)win32::GetOverlappedResult(file_, &overlapped_, &transferred, TRUE);
    }
    // The final status; STATUS_PENDING while it is not done.
    [[nodiscard]] NTSTATUS Status() const {
        if (failedAtOnce_) return failedStatus_;
        return Done() ? static_cast<NTSTATUS>(overlapped_.Internal) : STATUS_PENDING;
    }
    [[nodiscard]] ULONG Information() const {
        return failedAtOnce_ ? 0 : static_cast<ULONG>(overlapped_.InternalHigh);
    }
    // The bytes read, or the output of a control code, as far as Information goes.
    [[nodiscard]] std::string Data() const {
        return buffer_.substr(0, std::min<size_t>(Information(), buffer_.size()));
    }
    template <typename T>
    [[nodiscard]] T Output() const {
        T value{};
        std::memcpy(&value, buffer_.data(), std::min(sizeof value, buffer_.size()));
        return value;
    }

  private:
    bool Issued(win32::BOOL result) {
        if (result || win32::GetLastError() == win32::ERROR_IO_PENDING) return true;
        failedAtOnce_ = true;
        failedStatus_ = win32::LastNtStatus();
        return false;
    }

    HANDLE event_;
    HANDLE file_ = nullptr;
    win32::OVERLAPPED overlapped_{};
    std::string buffer_;
    std::string input_;
    bool failedAtOnce_ = false;
    NTSTATUS failedStatus_ = STATUS_SUCCESS;
};

struct Result {
    NTSTATUS status;
    ULONG information;
    std::string output;
};

class SerialTest : public ::testing::Test {
  protected:
    void SetUp() override {
        sim::registry::Reset();
        TestPort::last = nullptr;
        bus_ = sim::LoadDriver(u"\\Driver\\zovbus", &BusEntry, u"");
        ASSERT_NE(bus_, nullptr);
        NTSTATUS status = STATUS_UNSUCCESSFUL;
        driver_ = sim::LoadDriver(u"\\Driver\\zovusb", &DriverEntry, kServiceKey, &status);
        ASSERT_EQ(status, STATUS_SUCCESS);
        ASSERT_EQ(IoCreateDevice(bus_, 0, nullptr, FILE_DEVICE_UNKNOWN, 0, FALSE, &pdo_),
                  STATUS_SUCCESS);
        pdo_->Flags &= ~DO_DEVICE_INITIALIZING;
        // Every port is named unless a test changes the device key first.
        sim::registry::SetString(DeviceKey(), u"PortName", kPortName);
    }
    void TearDown() override {
        // A close waits for its drain (ten character times) on the virtual clock.
        sim::SetAutoAdvance(true);
        for (HANDLE handle : handles_) (void)win32::CloseHandle(handle);
        handles_.clear();
        sim::Settle();
        if (driver_ != nullptr) sim::UnloadDriver(driver_);
        while (bus_ != nullptr && bus_->DeviceObject != nullptr) IoDeleteDevice(bus_->DeviceObject);
        if (bus_ != nullptr) sim::UnloadDriver(bus_);
        TestPort::nextOptions = TestPort::Options();
        EXPECT_TRUE(sim::registry::OpenHandles().empty());
    }

    // The port device's hardware key (PortName and the naming switches live there).
    [[nodiscard]] std::u16string DeviceKey() const {
        return sim::registry::DeviceKeyPath(pdo_, PLUGPLAY_REGKEY_DEVICE);
    }

    // Builds the port on the physical device; the status of AddDevice.
    NTSTATUS AddPort() { return framework::AddDevice(driver_, pdo_); }
    TestPort* CreatePort() {
        EXPECT_EQ(AddPort(), STATUS_SUCCESS);
        return TestPort::last;
    }

    // Opens the port (by device name unless told otherwise); closed at the end.
    HANDLE Open(const char16_t* name = kPortDeviceName) {
        HANDLE handle =
            win32::CreateFileW(name, win32::GENERIC_READ | win32::GENERIC_WRITE, 0, nullptr,
                               win32::OPEN_EXISTING, win32::FILE_FLAG_OVERLAPPED, nullptr);
        if (handle != win32::INVALID_HANDLE_VALUE) handles_.push_back(handle);
        return handle;
    }
    // The close waits for its drain on the virtual clock, so this turns
    // auto-advance on for the rest of the test.
    void Close(HANDLE handle) {
        std::erase(handles_, handle);
        sim::SetAutoAdvance(true);
        (void)win32::CloseHandle(handle);
    }

    // A control code issued and waited for.
    Result Control(HANDLE file, ULONG code, const void* in = nullptr, ULONG inLength = 0,
                   ULONG outLength = 0) {
        Pending request;
        request.Control(file, code, in, inLength, outLength);
        request.Wait();
        return {request.Status(), request.Information(), request.Data()};
    }
    template <typename T>
    Result Set(HANDLE file, ULONG code, const T& value) {
        return Control(file, code, &value, sizeof value);
    }
    template <typename T>
    T Get(HANDLE file, ULONG code) {
        const Result result = Control(file, code, nullptr, 0, sizeof(T));
        EXPECT_EQ(result.status, STATUS_SUCCESS);
        T value{};
        std::memcpy(&value, result.output.data(), std::min(sizeof value, result.output.size()));
        return value;
    }

    sim::System system_;
    PDRIVER_OBJECT bus_ = nullptr;
    PDRIVER_OBJECT driver_ = nullptr;
    PDEVICE_OBJECT pdo_ = nullptr;
    std::vector<HANDLE> handles_;
};

}  // namespace serial::testing
