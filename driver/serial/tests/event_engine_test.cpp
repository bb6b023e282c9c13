// The port event engine: deferred actions run outside the port lock, a full
// action pool loses no request and allocates nothing, current requests end on
// cancellation and abort.
#include <algorithm>
#include <vector>

#include "framework/pool.h"
#include "serial_fixture.h"
#include "sim/faults.h"

namespace serial::testing {
namespace {

constexpr ULONG kHoldCode =
    CTL_CODE(FILE_DEVICE_SERIAL_PORT, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kBlockAction = 0x10000;
constexpr int kSystemWorkers = 4;  // the simulated system's worker threads

class EventEngineTest : public SerialTest {
  protected:
    void SetUp() override {
        SerialTest::SetUp();
        port_ = CreatePort();
        ASSERT_NE(port_, nullptr);
        file_ = Open();
        ASSERT_NE(file_, win32::INVALID_HANDLE_VALUE);
        KeInitializeEvent(&enteredEvent_, NotificationEvent, FALSE);
        KeInitializeEvent(&release_, NotificationEvent, FALSE);
        // Custom codes are kept by the port until the test ends them.
        port_->otherIoctl = [this](PIRP irp) {
            IoMarkIrpPending(irp);
            std::lock_guard guard(mutex_);
            held_.push_back(irp);
            return STATUS_PENDING;
        };
    }

    // Actions of type kBlockAction hold their runner until Release(). One per
    // system worker thread leaves no runner for anything posted afterwards.
    void BlockRunners(int count) {
        port_->otherAction = [this](PortAction& action) {
            if (action.type == kBlockAction) {
                ++entered_;
                (void)KeSetEvent(&enteredEvent_, IO_NO_INCREMENT, FALSE);
                (void)KeWaitForSingleObject(&release_, Executive, KernelMode, FALSE, nullptr);
            }
        };
        for (int i = 0; i < count; ++i) {
            KeClearEvent(&enteredEvent_);
            port_->Locked([&] { port_->PostAction(kBlockAction, nullptr, 0); });
            while (entered_.load() <= i) {
                (void)KeWaitForSingleObject(&enteredEvent_, Executive, KernelMode, FALSE, nullptr);
                KeClearEvent(&enteredEvent_);
            }
        }
    }
    void Release() { (void)KeSetEvent(&release_, IO_NO_INCREMENT, FALSE); }
    // An event with no flags only queues the runner.
    void QueueRunner() {
        port_->Locked([&] { port_->PostEvent({}); });
    }

    TestPort* port_ = nullptr;
    HANDLE file_ = nullptr;
    std::atomic<int> entered_{0};
    KEVENT enteredEvent_;
    KEVENT release_;
    std::mutex mutex_;
    std::vector<PIRP> held_;
};

// Every action runs once, outside the port lock (runners may overlap, so the
// order in which they finish is not fixed).
TEST_F(EventEngineTest, ActionsRunOnceWithoutThePortLock) {
    std::mutex mutex;
    std::vector<ULONG> ran;
    std::atomic<bool> lockHeld{false};
    port_->otherAction = [&](PortAction& action) {
        if (port_->PortLockHeld()) lockHeld = true;
        std::lock_guard guard(mutex);
        ran.push_back(action.type);
    };
    port_->Locked([&] {
        for (ULONG type = kBlockAction + 1; type <= kBlockAction + 5; ++type) {
            port_->PostAction(type, nullptr, 0);
        }
    });
    sim::Settle();
    std::sort(ran.begin(), ran.end());
    EXPECT_EQ(ran, (std::vector<ULONG>{kBlockAction + 1, kBlockAction + 2, kBlockAction + 3,
                                       kBlockAction + 4, kBlockAction + 5}));
    EXPECT_FALSE(lockHeld.load());
}

// With every record in use, requests still complete, in order, and no pool is
// allocated for them.
TEST_F(EventEngineTest, FullPoolLosesNoRequest) {
    Pending requests[3];
    for (Pending& request : requests) ASSERT_TRUE(request.Control(file_, kHoldCode));
    sim::Settle();
    ASSERT_EQ(held_.size(), 3U);

    BlockRunners(kSystemWorkers);
    const std::uint64_t poolCalls = sim::AllocationCalls(sim::FaultSite::Pool, framework::kPoolTag);
    port_->Locked([&] {
        for (int i = 0; i < 40; ++i) port_->PostAction(PortAction::kSignalClose, nullptr, 0);
        for (size_t i = 0; i < held_.size(); ++i) {
            held_[i]->IoStatus.Status = STATUS_SUCCESS;
            held_[i]->IoStatus.Information = 0;
            port_->PostAction(PortAction::kCompleteWait, held_[i], 0);
        }
    });
    EXPECT_EQ(sim::AllocationCalls(sim::FaultSite::Pool, framework::kPoolTag), poolCalls);
    for (Pending& request : requests) EXPECT_FALSE(request.Done()) << std::hex << request.Status();
    Release();
    sim::Settle();
    for (Pending& request : requests) EXPECT_EQ(request.Status(), STATUS_SUCCESS);

    // The pool is whole again: 32 more actions run.
    std::atomic<int> ran{0};
    port_->otherAction = [&](PortAction&) { ++ran; };
    port_->Locked([&] {
        for (int i = 0; i < 32; ++i) port_->PostAction(kBlockAction + 1, nullptr, 0);
        port_->PostEvent({});
    });
    sim::Settle();
    EXPECT_EQ(ran.load(), 32);
}

// A current read or write that is cancelled ends with STATUS_CANCELLED and
// Information 0, whether the cancellation comes at PASSIVE_LEVEL or at
// DISPATCH_LEVEL, and the next request of its queue starts.
TEST_F(EventEngineTest, CancellingTheCurrentRequest) {
    ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_TIMEOUTS, SERIAL_TIMEOUTS{}).status, STATUS_SUCCESS);
    for (const KIRQL irql : {PASSIVE_LEVEL, DISPATCH_LEVEL}) {
        for (const bool read : {true, false}) {
            SCOPED_TRACE(::testing::Message()
                         << (read ? "read" : "write") << " at IRQL " << int{irql});
            port_->transmitting = false;  // writes stay current
            Pending first;
            Pending second;
            ASSERT_TRUE(read ? first.Read(file_, 10) : first.Write(file_, "0123456789"));
            ASSERT_TRUE(read ? second.Read(file_, 2) : second.Write(file_, "ab"));
            sim::Settle();
            if (read) port_->Receive("xyz");  // bytes moved so far are not reported
            sim::Settle();
            PIRP current = nullptr;
            port_->Locked([&] { current = read ? port_->currentRead : port_->currentWrite; });
            ASSERT_NE(current, nullptr);
            KIRQL previous;
            KeRaiseIrql(irql, &previous);
            (void)IoCancelIrp(current);
            KeLowerIrql(previous);
            sim::Settle();
            EXPECT_EQ(first.Status(), STATUS_CANCELLED);
            EXPECT_EQ(first.Information(), 0U);
            // The second one is current now.
            port_->Locked([&] { current = read ? port_->currentRead : port_->currentWrite; });
            EXPECT_NE(current, nullptr);
            if (read) {
                port_->Receive("12");
            } else {
                port_->transmitting = true;
                port_->Locked([&] { port_->StartTransmit(); });
            }
            sim::Settle();
            EXPECT_EQ(second.Status(), STATUS_SUCCESS);
            EXPECT_EQ(second.Information(), 2U);
        }
    }
}

// AbortCurrentIo ends the current read and write with STATUS_DEVICE_POWERED_OFF,
// a warning, so Information reports the bytes moved.
TEST_F(EventEngineTest, AbortReportsTheBytesMoved) {
    ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_TIMEOUTS, SERIAL_TIMEOUTS{}).status, STATUS_SUCCESS);
    port_->transmitting = false;
    Pending read;
    Pending write;
    ASSERT_TRUE(read.Read(file_, 10));
    ASSERT_TRUE(write.Write(file_, "0123456789"));
    sim::Settle();
    port_->Receive("abc");
    EXPECT_EQ(port_->Transmit(4), "0123");
    port_->CancelOwnRequests();
    sim::Settle();
    EXPECT_EQ(read.Status(), STATUS_DEVICE_POWERED_OFF);
    EXPECT_EQ(read.Information(), 3U);
    EXPECT_EQ(read.Data(), "abc");
    EXPECT_EQ(write.Status(), STATUS_DEVICE_POWERED_OFF);
    EXPECT_EQ(write.Information(), 4U);
}

// An expired XOFF-counter timer does nothing to an ordinary write.
TEST_F(EventEngineTest, XoffCounterExpiryLeavesAWriteAlone) {
    port_->transmitting = false;
    Pending write;
    ASSERT_TRUE(write.Write(file_, "abc"));
    sim::Settle();
    port_->Locked([&] { port_->PostEvent({PortEvent::kXoffCounterExpired, STATUS_TIMEOUT, 0}); });
    sim::Settle();
    EXPECT_FALSE(write.Done());
    EXPECT_EQ(port_->Transmit(10), "abc");
    sim::Settle();
    EXPECT_EQ(write.Status(), STATUS_SUCCESS);
    EXPECT_EQ(write.Information(), 3U);
}

// With the baud rate at 0 a drain still ends: a flush completes at the next tick.
TEST_F(EventEngineTest, DrainAtZeroBaud) {
    ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_BAUD_RATE, SERIAL_BAUD_RATE{0}).status, STATUS_SUCCESS);
    sim::SetAutoAdvance(true);
    const ULONGLONG before = sim::Now();
    EXPECT_TRUE(win32::FlushFileBuffers(file_));
    EXPECT_LE(sim::Now() - before, 156250U);
    sim::SetAutoAdvance(false);
}

}  // namespace
}  // namespace serial::testing
