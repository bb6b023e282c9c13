// Flow control through SET_HANDFLOW, SET_XOFF and SET_XON: line handshakes
// that hold writes, DTR/RTS and XON/XOFF receive flow control against the
// receive buffer's limits, and DSR sensitivity.
#include <optional>

#include "serial_fixture.h"

namespace serial::testing {
namespace {

constexpr ULONG kMaxUlong = 0xFFFFFFFF;
constexpr char kXon = 0x11;
constexpr char kXoff = 0x13;

class FlowControlTest : public SerialTest {
  protected:
    void SetUp() override {
        SerialTest::SetUp();
        sim::SetSystemSize(MmSmallSystem);  // a 128-byte receive buffer
        port_ = CreatePort();
        ASSERT_NE(port_, nullptr);
        file_ = Open();
        ASSERT_NE(file_, win32::INVALID_HANDLE_VALUE);
        const SERIAL_TIMEOUTS noWait{kMaxUlong, 0, 0, 0, 0};
        ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_TIMEOUTS, noWait).status, STATUS_SUCCESS);
    }

    NTSTATUS SetHandFlow(ULONG controlHandShake, ULONG flowReplace, LONG xonLimit = 0,
                         LONG xoffLimit = 0) {
        const SERIAL_HANDFLOW handFlow{controlHandShake, flowReplace, xonLimit, xoffLimit};
        return Set(file_, IOCTL_SERIAL_SET_HANDFLOW, handFlow).status;
    }
    // Reads up to `length` bytes of what the receive buffer holds.
    std::string Read(ULONG length) {
        Pending read;
        read.Read(file_, length);
        read.Wait();
        EXPECT_EQ(read.Status(), STATUS_SUCCESS);
        return read.Data();
    }
    ULONG HoldReasons() {
        return Get<SERIAL_STATUS>(file_, IOCTL_SERIAL_GET_COMMSTATUS).HoldReasons;
    }
    // The last change of `kind` the port made to its lines, if any.
    std::optional<ULONG> LastLineChange(HardwareChange::Kind kind) {
        std::optional<ULONG> last;
        for (const HardwareChange& change : port_->Changes()) {
            if (change.kind == kind) last = change.value;
        }
        return last;
    }

    TestPort* port_ = nullptr;
    HANDLE file_ = nullptr;
};

TEST_F(FlowControlTest, LineHandshakesHoldWritesUntilTheirLineComesOn) {
    struct Case {
        const char* what;
        ULONG handshake;
        UCHAR lineOn;   // modem status with the line on
        UCHAR lineOff;  // and off again
        ULONG holdReason;
    };
    const Case cases[] = {
        {"CTS", SERIAL_CTS_HANDSHAKE, 0x11, 0x01, SERIAL_TX_WAITING_FOR_CTS},
        {"DSR", SERIAL_DSR_HANDSHAKE, 0x22, 0x02, SERIAL_TX_WAITING_FOR_DSR},
        {"DCD", SERIAL_DCD_HANDSHAKE, 0x88, 0x08, SERIAL_TX_WAITING_FOR_DCD},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        port_->ReportModemStatus(c.lineOff);
        ASSERT_EQ(SetHandFlow(SERIAL_DTR_CONTROL | c.handshake, SERIAL_RTS_CONTROL),
                  STATUS_SUCCESS);
        port_->ClearRecords();

        // The line is already off when the handshake is switched on.
        Pending write;
        ASSERT_TRUE(write.Write(file_, "abc"));
        sim::Settle();
        EXPECT_FALSE(write.Done());
        EXPECT_EQ(port_->Sent(), "");
        const auto status = Get<SERIAL_STATUS>(file_, IOCTL_SERIAL_GET_COMMSTATUS);
        EXPECT_EQ(status.HoldReasons, c.holdReason);
        EXPECT_EQ(status.AmountInOutQueue, 3u);

        port_->ReportModemStatus(c.lineOn);
        sim::Settle();
        ASSERT_TRUE(write.Done());
        EXPECT_EQ(write.Status(), STATUS_SUCCESS);
        EXPECT_EQ(port_->Sent(), "abc");
        EXPECT_EQ(HoldReasons(), 0u);

        // Dropping the line again holds the next write.
        port_->ReportModemStatus(c.lineOff);
        Pending next;
        ASSERT_TRUE(next.Write(file_, "d"));
        sim::Settle();
        EXPECT_FALSE(next.Done());
        EXPECT_EQ(HoldReasons(), c.holdReason);

        // Switching the handshake off releases it.
        ASSERT_EQ(SetHandFlow(SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL), STATUS_SUCCESS);
        sim::Settle();
        ASSERT_TRUE(next.Done());
        EXPECT_EQ(port_->Sent(), "abcd");
    }
}

TEST_F(FlowControlTest, ReceiveHandshakeDropsItsLineNearFullAndRaisesItOnceDrained) {
    struct Case {
        const char* what;
        ULONG controlHandShake;
        ULONG flowReplace;
        HardwareChange::Kind line;
    };
    const Case cases[] = {
        {"DTR", SERIAL_DTR_HANDSHAKE, SERIAL_RTS_CONTROL, HardwareChange::Kind::Dtr},
        {"RTS", SERIAL_DTR_CONTROL, SERIAL_RTS_HANDSHAKE, HardwareChange::Kind::Rts},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(port_->rxBufferSize, 128u);
        ASSERT_EQ(SetHandFlow(c.controlHandShake, c.flowReplace, 10, 20), STATUS_SUCCESS);
        EXPECT_EQ(LastLineChange(c.line), 1u);  // empty buffer: the line is raised
        port_->ClearRecords();

        ASSERT_EQ(port_->Receive(std::string(108, 'x')), 108u);
        EXPECT_EQ(LastLineChange(c.line), std::nullopt);
        ASSERT_EQ(port_->Receive("y"), 1u);  // the 109th unread character
        EXPECT_EQ(LastLineChange(c.line), 0u);

        port_->ClearRecords();
        EXPECT_EQ(Read(99).size(), 99u);  // 10 left: not below XonLimit
        EXPECT_EQ(LastLineChange(c.line), std::nullopt);
        EXPECT_EQ(Read(1), "x");  // 9 left
        EXPECT_EQ(LastLineChange(c.line), 1u);
        EXPECT_EQ(Read(64), "xxxxxxxxy");
    }
}

TEST_F(FlowControlTest, XoffGoesOutNearFullAndXonOnceDrained) {
    ASSERT_EQ(SetHandFlow(SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL | SERIAL_AUTO_RECEIVE, 10, 20),
              STATUS_SUCCESS);
    ASSERT_EQ(port_->Receive(std::string(108, 'x')), 108u);
    EXPECT_EQ(port_->Sent(), "");
    ASSERT_EQ(port_->Receive("x"), 1u);
    EXPECT_EQ(port_->Sent(), std::string(1, kXoff));
    EXPECT_EQ(HoldReasons(), SERIAL_TX_WAITING_XOFF_SENT | SERIAL_TX_WAITING_FOR_XON);

    EXPECT_EQ(Read(100).size(), 100u);
    EXPECT_EQ(port_->Sent(), std::string({kXoff, kXon}));
    EXPECT_EQ(HoldReasons(), 0u);
}

// Re-applying the XON/XOFF settings (as every SetCommState does) while an
// XOFF is out withdraws it; the remote sender must not be left stopped.
// Transmit XON/XOFF stays on, so only the receive side can send the XON.
TEST_F(FlowControlTest, ReapplyingReceiveXonXoffAfterAnXoffResumesTheSender) {
    constexpr ULONG kBoth = SERIAL_RTS_CONTROL | SERIAL_AUTO_RECEIVE | SERIAL_AUTO_TRANSMIT;
    struct Case {
        const char* what;
        ULONG flowReplace;  // applied while the XOFF is out
    };
    const Case cases[] = {
        {"receive side still on", kBoth},
        {"receive side switched off", SERIAL_RTS_CONTROL | SERIAL_AUTO_TRANSMIT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(SetHandFlow(SERIAL_DTR_CONTROL, kBoth, 10, 20), STATUS_SUCCESS);
        port_->ClearRecords();
        ASSERT_EQ(port_->Receive(std::string(109, 'x')), 109u);
        ASSERT_EQ(port_->Sent(), std::string(1, kXoff));

        ASSERT_EQ(SetHandFlow(SERIAL_DTR_CONTROL, c.flowReplace, 10, 20), STATUS_SUCCESS);
        EXPECT_EQ(port_->Sent(), std::string({kXoff, kXon}));
        EXPECT_EQ(HoldReasons(), 0u);
        EXPECT_EQ(Read(128).size(), 109u);
        EXPECT_EQ(port_->Sent(), std::string({kXoff, kXon}));
    }
}

TEST_F(FlowControlTest, SetXoffHoldsWritesUntilSetXon) {
    ASSERT_EQ(Control(file_, IOCTL_SERIAL_SET_XOFF).status, STATUS_SUCCESS);
    Pending write;
    ASSERT_TRUE(write.Write(file_, "abc"));
    sim::Settle();
    EXPECT_FALSE(write.Done());
    EXPECT_EQ(HoldReasons(), SERIAL_TX_WAITING_FOR_XON);

    ASSERT_EQ(Control(file_, IOCTL_SERIAL_SET_XON).status, STATUS_SUCCESS);
    sim::Settle();
    ASSERT_TRUE(write.Done());
    EXPECT_EQ(write.Status(), STATUS_SUCCESS);
    EXPECT_EQ(port_->Sent(), "abc");
    EXPECT_EQ(HoldReasons(), 0u);
}

TEST_F(FlowControlTest, DsrSensitivityDropsCharactersWhileDsrIsOff) {
    ASSERT_EQ(SetHandFlow(SERIAL_DTR_CONTROL | SERIAL_DSR_SENSITIVITY, SERIAL_RTS_CONTROL),
              STATUS_SUCCESS);
    EXPECT_EQ(HoldReasons(), SERIAL_RX_WAITING_FOR_DSR);
    EXPECT_EQ(port_->Receive("ab"), 0u);

    port_->ReportModemStatus(0x22);
    EXPECT_EQ(HoldReasons(), 0u);
    EXPECT_EQ(port_->Receive("cd"), 2u);
    port_->ReportModemStatus(0x02);
    EXPECT_EQ(port_->Receive("ef"), 0u);
    EXPECT_EQ(Read(64), "cd");
}

TEST_F(FlowControlTest, HandFlowDrivesTheOutputLines) {
    struct Case {
        ULONG controlHandShake;
        ULONG flowReplace;
        ULONG dtrRts;  // GET_DTRRTS afterwards
    };
    const Case cases[] = {
        {0, 0, 0},
        {SERIAL_DTR_CONTROL, 0, SERIAL_DTR_STATE},
        {0, SERIAL_RTS_CONTROL, SERIAL_RTS_STATE},
        {SERIAL_DTR_HANDSHAKE, SERIAL_RTS_HANDSHAKE, SERIAL_DTR_STATE | SERIAL_RTS_STATE},
        // Transmit toggle with nothing to send lowers RTS.
        {SERIAL_DTR_CONTROL, SERIAL_TRANSMIT_TOGGLE, SERIAL_DTR_STATE},
        {0, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message()
                     << "handshake " << c.controlHandShake << ", flow " << c.flowReplace);
        ASSERT_EQ(SetHandFlow(c.controlHandShake, c.flowReplace), STATUS_SUCCESS);
        EXPECT_EQ(Get<ULONG>(file_, IOCTL_SERIAL_GET_DTRRTS), c.dtrRts);
    }
}

}  // namespace
}  // namespace serial::testing
