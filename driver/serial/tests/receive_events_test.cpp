// Receive events and flow control: what arriving characters record for
// WAIT_ON_MASK, and the receive level that holds the sender.
#include <functional>
#include <string>
#include <vector>

#include "receive_fixture.h"

namespace serial::testing {
namespace {

// ---- receive events -----------------------------------------------------------------

class EventTest;

struct EventCase {
    const char* name;
    ULONG mask;
    std::function<void(EventTest&)> setup;
    std::string received;
    ULONG events;  // what the wait ends with; 0: it is still waiting
};

void PrintTo(const EventCase& c, std::ostream* out) {
    *out << c.name;
}

class EventTest : public ReceiveTest, public ::testing::WithParamInterface<EventCase> {
  public:
    void SetUp() override {
        sim::SetSystemSize(MmSmallSystem);  // a 128-byte ring
        ReceiveTest::SetUp();
    }
    void SetEventChar(UCHAR character) {
        SERIAL_CHARS chars{0, 0, 0, character, 0x11, 0x13};
        ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_CHARS, chars).status, STATUS_SUCCESS);
    }
    void HoldForDsr() {
        port_->Locked([&] { port_->rxHoldReasons |= kRxHoldDsr; });
    }
    void SetWaitMask(ULONG mask) {
        ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_WAIT_MASK, mask).status, STATUS_SUCCESS);
    }
};

TEST_P(EventTest, ReceivingRecordsTheEventsWaitedFor) {
    const EventCase& c = GetParam();
    if (c.setup) c.setup(*this);
    SetWaitMask(c.mask);
    Pending wait;
    ASSERT_TRUE(wait.Control(file_, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, sizeof(ULONG)));
    sim::Settle();
    ASSERT_FALSE(wait.Done());
    port_->Receive(c.received);
    sim::Settle();
    if (c.events == 0) {
        EXPECT_FALSE(wait.Done());
        SetWaitMask(0);  // ends the wait with no events
        sim::Settle();
    } else {
        ASSERT_TRUE(wait.Done());
        EXPECT_EQ(wait.Status(), STATUS_SUCCESS);
        EXPECT_EQ(wait.Output<ULONG>(), c.events);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Events, EventTest,
    ::testing::Values(
        EventCase{"AnyCharacter", EV_RXCHAR, nullptr, "a", EV_RXCHAR},
        EventCase{"EventCharacter", EV_RXFLAG, [](EventTest& t) { t.SetEventChar('z'); }, "abz",
                  EV_RXFLAG},
        EventCase{"NoEventCharacter", EV_RXFLAG, [](EventTest& t) { t.SetEventChar('z'); }, "abc",
                  0},
        EventCase{"CharacterAndEventCharacter", EV_RXCHAR | EV_RXFLAG,
                  [](EventTest& t) { t.SetEventChar('\n'); }, "a\n", EV_RXCHAR | EV_RXFLAG},
        EventCase{"DroppedWhileWaitingForDsr", EV_RXCHAR, [](EventTest& t) { t.HoldForDsr(); },
                  "abc", 0},
        EventCase{"BelowEightyPercent", EV_RX80FULL, nullptr, std::string(102, 'f'), 0},
        EventCase{"EightyPercentFull", EV_RX80FULL, nullptr, std::string(103, 'f'), EV_RX80FULL},
        EventCase{"Overrun", EV_ERR, nullptr, std::string(129, 'o'), EV_ERR}),
    [](const ::testing::TestParamInfo<EventCase>& info) { return std::string(info.param.name); });

TEST_F(ReceiveTest, EightyPercentIsReportedOnlyWhenCrossed) {
    Close(file_);
    sim::SetSystemSize(MmSmallSystem);
    OpenPort();
    ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_WAIT_MASK, EV_RX80FULL).status, STATUS_SUCCESS);
    port_->Receive(std::string(110, 'f'));
    Pending wait;
    ASSERT_TRUE(wait.Control(file_, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, sizeof(ULONG)));
    sim::Settle();
    EXPECT_EQ(wait.Output<ULONG>(), EV_RX80FULL);  // recorded before the wait
    Pending next;
    ASSERT_TRUE(next.Control(file_, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, sizeof(ULONG)));
    port_->Receive("ff");  // stays above: no new crossing
    sim::Settle();
    EXPECT_FALSE(next.Done());
    ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_WAIT_MASK, ULONG{0}).status, STATUS_SUCCESS);
}

TEST_F(ReceiveTest, FillingBeyondTheXoffLimitHoldsTheSenderAndReadingReleasesIt) {
    Close(file_);
    sim::SetSystemSize(MmSmallSystem);
    OpenPort();
    ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_HANDFLOW,
                  SERIAL_HANDFLOW{SERIAL_DTR_CONTROL, SERIAL_RTS_HANDSHAKE, 10, 28})
                  .status,
              STATUS_SUCCESS);
    port_->ClearRecords();
    port_->Receive(std::string(100, 'h'));  // 100 = 128 - 28: not above
    EXPECT_TRUE(port_->Changes().empty());
    port_->Receive("h");
    EXPECT_EQ(port_->Changes(), (std::vector<HardwareChange>{{HardwareChange::Kind::Rts, 0}}));
    EXPECT_EQ(Drain(), std::string(101, 'h'));
    EXPECT_EQ(port_->Changes().back(), (HardwareChange{HardwareChange::Kind::Rts, 1}));
}

}  // namespace
}  // namespace serial::testing
