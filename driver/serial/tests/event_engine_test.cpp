// The port event engine: deferred actions run in posting order outside the port
// lock, and a full action pool loses no request and allocates nothing.
#include <vector>

#include "framework/pool.h"
#include "serial_fixture.h"
#include "sim/faults.h"

namespace serial::testing {
namespace {

constexpr ULONG kHoldCode =
    CTL_CODE(FILE_DEVICE_SERIAL_PORT, 0x800, METHOD_BUFFERED, FILE_ANY_ACCESS);
constexpr ULONG kBlockAction = 0x10000;

class EventEngineTest : public SerialTest {
  protected:
    void SetUp() override {
        SerialTest::SetUp();
        port_ = CreatePort();
        ASSERT_NE(port_, nullptr);
        file_ = Open();
        ASSERT_NE(file_, win32::INVALID_HANDLE_VALUE);
        KeInitializeEvent(&entered_, NotificationEvent, FALSE);
        KeInitializeEvent(&release_, NotificationEvent, FALSE);
        // Custom codes are kept by the port until the test ends them.
        port_->otherIoctl = [this](PIRP irp) {
            IoMarkIrpPending(irp);
            std::lock_guard guard(mutex_);
            held_.push_back(irp);
            return STATUS_PENDING;
        };
    }

    // Actions of type kBlockAction hold the runner until Release().
    void BlockRunner() {
        port_->otherAction = [this](PortAction& action) {
            if (action.type == kBlockAction) {
                (void)KeSetEvent(&entered_, IO_NO_INCREMENT, FALSE);
                (void)KeWaitForSingleObject(&release_, Executive, KernelMode, FALSE, nullptr);
            }
        };
        port_->Locked([&] { port_->PostAction(kBlockAction, nullptr, 0); });
        QueueRunner();
        (void)KeWaitForSingleObject(&entered_, Executive, KernelMode, FALSE, nullptr);
    }
    void Release() { (void)KeSetEvent(&release_, IO_NO_INCREMENT, FALSE); }
    // An event with no flags only queues the runner.
    void QueueRunner() {
        port_->Locked([&] { port_->PostEvent({}); });
    }

    TestPort* port_ = nullptr;
    HANDLE file_ = nullptr;
    KEVENT entered_;
    KEVENT release_;
    std::mutex mutex_;
    std::vector<PIRP> held_;
};

TEST_F(EventEngineTest, ActionsRunInPostingOrderWithoutThePortLock) {
    std::vector<ULONG> order;
    bool lockHeld = false;
    port_->otherAction = [&](PortAction& action) {
        lockHeld = lockHeld || port_->PortLockHeld();
        order.push_back(action.type);
    };
    port_->Locked([&] {
        for (ULONG type = kBlockAction + 1; type <= kBlockAction + 5; ++type) {
            port_->PostAction(type, nullptr, 0);
        }
        port_->PostEvent({});
    });
    sim::Settle();
    EXPECT_EQ(order, (std::vector<ULONG>{kBlockAction + 1, kBlockAction + 2, kBlockAction + 3,
                                         kBlockAction + 4, kBlockAction + 5}));
    EXPECT_FALSE(lockHeld);
}

// With every record in use, requests still complete, in order, and no pool is
// allocated for them.
TEST_F(EventEngineTest, FullPoolLosesNoRequest) {
    Pending requests[3];
    for (Pending& request : requests) ASSERT_TRUE(request.Control(file_, kHoldCode));
    sim::Settle();
    ASSERT_EQ(held_.size(), 3U);

    BlockRunner();
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
    for (Pending& request : requests) EXPECT_FALSE(request.Done());
    Release();
    sim::Settle();
    for (Pending& request : requests) EXPECT_EQ(request.Status(), STATUS_SUCCESS);

    // The pool is whole again: 32 more actions run.
    int ran = 0;
    port_->otherAction = [&](PortAction&) { ++ran; };
    port_->Locked([&] {
        for (int i = 0; i < 32; ++i) port_->PostAction(kBlockAction + 1, nullptr, 0);
        port_->PostEvent({});
    });
    sim::Settle();
    EXPECT_EQ(ran, 32);
}

}  // namespace
}  // namespace serial::testing
