// Wait-on-mask requests, modem-status events, line-status errors and the
// status sequences inserted into the receive stream.
#include "serial_fixture.h"

namespace serial::testing {
namespace {

constexpr ULONG kMaxUlong = 0xFFFFFFFF;

class EventWaitTest : public SerialTest {
  protected:
    void SetUp() override {
        SerialTest::SetUp();
        sim::SetSystemSize(MmSmallSystem);
        port_ = CreatePort();
        ASSERT_NE(port_, nullptr);
        file_ = Open();
        ASSERT_NE(file_, win32::INVALID_HANDLE_VALUE);
    }

    NTSTATUS SetWaitMask(ULONG mask) { return Set(file_, IOCTL_SERIAL_SET_WAIT_MASK, mask).status; }
    void StartWait(Pending& wait) {
        ASSERT_TRUE(wait.Control(file_, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, sizeof(ULONG)));
    }
    // Reads whatever the receive buffer holds, without waiting.
    std::string ReadAvailable() {
        const SERIAL_TIMEOUTS noWait{kMaxUlong, 0, 0, 0, 0};
        EXPECT_EQ(Set(file_, IOCTL_SERIAL_SET_TIMEOUTS, noWait).status, STATUS_SUCCESS);
        Pending read;
        read.Read(file_, 64);
        read.Wait();
        EXPECT_EQ(read.Status(), STATUS_SUCCESS);
        return read.Data();
    }
    SERIAL_STATUS CommStatus() { return Get<SERIAL_STATUS>(file_, IOCTL_SERIAL_GET_COMMSTATUS); }

    TestPort* port_ = nullptr;
    HANDLE file_ = nullptr;
};

// The wait ended with STATUS_SUCCESS and `events` as its result.
void ExpectWaitEnded(const Pending& wait, ULONG events) {
    ASSERT_TRUE(wait.Done());
    EXPECT_EQ(wait.Status(), STATUS_SUCCESS);
    EXPECT_EQ(wait.Information(), sizeof(ULONG));
    EXPECT_EQ(wait.Output<ULONG>(), events);
}

TEST_F(EventWaitTest, SetWaitMaskEndsTheHeldWaitWithNoEvents) {
    ASSERT_EQ(SetWaitMask(EV_RXCHAR | EV_CTS), STATUS_SUCCESS);
    port_->ReportModemStatus(0x10);  // CTS on, no change: nothing to report
    Pending wait;
    StartWait(wait);
    sim::Settle();
    ASSERT_FALSE(wait.Done());

    EXPECT_EQ(SetWaitMask(EV_DSR), STATUS_SUCCESS);
    sim::Settle();
    ExpectWaitEnded(wait, 0);
    EXPECT_EQ(Get<ULONG>(file_, IOCTL_SERIAL_GET_WAIT_MASK), ULONG{EV_DSR});

    // The old mask's events no longer count.
    port_->ReportModemStatus(0x11);
    Pending next;
    StartWait(next);
    sim::Settle();
    EXPECT_FALSE(next.Done());
    port_->ReportModemStatus(0x32);
    sim::Settle();
    ExpectWaitEnded(next, EV_DSR);
}

TEST_F(EventWaitTest, EventsRecordedBeforeTheWaitEndItAtOnce) {
    ASSERT_EQ(SetWaitMask(EV_RXCHAR | EV_RXFLAG), STATUS_SUCCESS);
    ASSERT_EQ(port_->Receive("ab"), 2u);
    Pending wait;
    StartWait(wait);
    sim::Settle();
    ExpectWaitEnded(wait, EV_RXCHAR);

    // The history went with that wait: the next one waits for new events.
    Pending next;
    StartWait(next);
    sim::Settle();
    EXPECT_FALSE(next.Done());
    ASSERT_EQ(port_->Receive("c"), 1u);
    sim::Settle();
    ExpectWaitEnded(next, EV_RXCHAR);
}

TEST_F(EventWaitTest, MalformedWaitRequestsFailAndChangeNothing) {
    struct Case {
        const char* what;
        ULONG code;
        ULONG input;
        ULONG inLength;
        ULONG outLength;
        NTSTATUS status;
    };
    const Case cases[] = {
        {"wait with no mask set", IOCTL_SERIAL_WAIT_ON_MASK, 0, 0, 4, STATUS_INVALID_PARAMETER},
        {"mask beyond the defined events", IOCTL_SERIAL_SET_WAIT_MASK, 0x2000, 4, 0,
         STATUS_INVALID_PARAMETER},
        {"mask shorter than 4 bytes", IOCTL_SERIAL_SET_WAIT_MASK, EV_CTS, 3, 0,
         STATUS_BUFFER_TOO_SMALL},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Result result = Control(file_, c.code, &c.input, c.inLength, c.outLength);
        EXPECT_EQ(result.status, c.status);
        EXPECT_EQ(result.information, 0u);
        EXPECT_EQ(Get<ULONG>(file_, IOCTL_SERIAL_GET_WAIT_MASK), 0u);
    }

    ASSERT_EQ(SetWaitMask(0x1FFF), STATUS_SUCCESS);
    EXPECT_EQ(Control(file_, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, 3).status,
              STATUS_BUFFER_TOO_SMALL);

    // A second wait fails; the first stays held and still ends normally.
    Pending first;
    StartWait(first);
    EXPECT_EQ(Control(file_, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, 4).status,
              STATUS_INVALID_PARAMETER);
    sim::Settle();
    ASSERT_FALSE(first.Done());
    port_->ReportModemStatus(0x01);
    sim::Settle();
    ExpectWaitEnded(first, EV_CTS);
}

TEST_F(EventWaitTest, ModemStatusChangesRaiseOnlyTheEventsInTheMask) {
    constexpr ULONG kModemEvents = EV_CTS | EV_DSR | EV_RLSD | EV_RING;
    struct Case {
        ULONG mask;
        UCHAR status;
        ULONG events;  // 0: the wait goes on
    };
    const Case cases[] = {
        {kModemEvents, 0xFF, kModemEvents},
        {EV_CTS, 0x11, EV_CTS},
        {EV_DSR, 0x22, EV_DSR},
        {EV_RLSD, 0x88, EV_RLSD},
        {EV_RING, 0x04, EV_RING},
        {EV_CTS | EV_RLSD, 0x0A, EV_RLSD},  // delta DSR is not asked for
        {EV_DSR | EV_RXCHAR, 0x0D, 0},
        {kModemEvents, 0xF0, 0},  // lines on, but no change
        {EV_RXCHAR, 0x0F, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "mask " << c.mask << ", status " << int{c.status});
        ASSERT_EQ(SetWaitMask(c.mask), STATUS_SUCCESS);
        Pending wait;
        StartWait(wait);
        port_->ReportModemStatus(c.status);
        sim::Settle();
        if (c.events != 0) {
            ExpectWaitEnded(wait, c.events);
        } else {
            EXPECT_FALSE(wait.Done());
            ASSERT_EQ(SetWaitMask(0), STATUS_SUCCESS);
            sim::Settle();
            ExpectWaitEnded(wait, 0);
        }
    }
}

TEST_F(EventWaitTest, LineStatusErrorsAreCountedAndEndTheCurrentRead) {
    struct Case {
        UCHAR lineStatus;
        ULONG errors;
        SERIALPERF_STATS counts;  // only the error counts are compared
        ULONG events;
    };
    const Case cases[] = {
        {0x04, SERIAL_ERROR_PARITY, {0, 0, 0, 0, 0, 1}, EV_ERR},
        {0x08, SERIAL_ERROR_FRAMING, {0, 0, 1, 0, 0, 0}, EV_ERR},
        {0x02, SERIAL_ERROR_OVERRUN, {0, 0, 0, 1, 0, 0}, EV_ERR},
        {0x1C, SERIAL_ERROR_BREAK, {0, 0, 0, 0, 0, 0}, EV_BREAK | EV_ERR},
        {0x16, SERIAL_ERROR_BREAK | SERIAL_ERROR_OVERRUN, {0, 0, 0, 1, 0, 0}, EV_BREAK | EV_ERR},
    };
    ASSERT_EQ(SetWaitMask(EV_ERR | EV_BREAK | EV_RXCHAR), STATUS_SUCCESS);
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "line status " << int{c.lineStatus});
        ASSERT_EQ(Control(file_, IOCTL_SERIAL_CLEAR_STATS).status, STATUS_SUCCESS);
        Pending read;
        ASSERT_TRUE(read.Read(file_, 10));
        Pending wait;
        StartWait(wait);
        sim::Settle();
        ASSERT_FALSE(read.Done());

        port_->ReportLineStatus(c.lineStatus);
        sim::Settle();
        ASSERT_TRUE(read.Done());
        EXPECT_EQ(read.Status(), STATUS_CANCELLED);
        EXPECT_EQ(read.Information(), 0u);
        ExpectWaitEnded(wait, c.events);

        const auto stats = Get<SERIALPERF_STATS>(file_, IOCTL_SERIAL_GET_STATS);
        EXPECT_EQ(stats.ParityErrorCount, c.counts.ParityErrorCount);
        EXPECT_EQ(stats.FrameErrorCount, c.counts.FrameErrorCount);
        EXPECT_EQ(stats.SerialOverrunErrorCount, c.counts.SerialOverrunErrorCount);
        EXPECT_EQ(CommStatus().Errors, c.errors);
        EXPECT_EQ(CommStatus().Errors, 0u);
    }
}

TEST_F(EventWaitTest, StatusSequencesAreInsertedIntoTheReceiveStream) {
    enum class Report { Modem, Line };
    struct Case {
        const char* what;
        UCHAR escapeChar;
        bool breakChar;  // SERIAL_BREAK_CHAR with BreakChar 'B'
        Report report;
        UCHAR value;
        std::string received;
    };
    const Case cases[] = {
        {"modem change", 0xFF, false, Report::Modem, 0x11, "\xFF\x03\x11"},
        {"modem lines without change", 0xFF, false, Report::Modem, 0x10, ""},
        {"line status", 0xFF, false, Report::Line, 0x04, "\xFF\x02\x04"},
        {"break character", 0, true, Report::Line, 0x10, "B"},
        {"break character for any report", 0, true, Report::Line, 0x00, "B"},
        {"line status, then break character", 0xFF, true, Report::Line, 0x10,
         "\xFF\x02\x10"
         "B"},
        {"no escape character", 0, false, Report::Modem, 0x11, ""},
    };
    ASSERT_EQ(SetWaitMask(EV_CTS), STATUS_SUCCESS);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        auto chars = Get<SERIAL_CHARS>(file_, IOCTL_SERIAL_GET_CHARS);
        chars.BreakChar = 'B';
        ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_CHARS, chars).status, STATUS_SUCCESS);
        const SERIAL_HANDFLOW handFlow{
            SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL | (c.breakChar ? SERIAL_BREAK_CHAR : 0), 0, 0};
        ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_HANDFLOW, handFlow).status, STATUS_SUCCESS);
        ASSERT_EQ(Set(file_, IOCTL_SERIAL_LSRMST_INSERT, c.escapeChar).status, STATUS_SUCCESS);

        if (c.report == Report::Modem) {
            port_->ReportModemStatus(c.value);
        } else {
            port_->ReportLineStatus(c.value);
        }
        sim::Settle();
        EXPECT_EQ(ReadAvailable(), c.received);
        (void)CommStatus();  // clears the line errors
    }
}

TEST_F(EventWaitTest, CancelledWaitEndsOnceAndFreesTheHolder) {
    ASSERT_EQ(SetWaitMask(EV_CTS), STATUS_SUCCESS);
    Pending wait;
    StartWait(wait);
    sim::Settle();
    ASSERT_FALSE(wait.Done());
    ASSERT_TRUE(win32::CancelIo(file_));
    sim::Settle();
    ASSERT_TRUE(wait.Done());
    EXPECT_EQ(wait.Status(), STATUS_CANCELLED);

    // Neither a new mask nor an event touches the cancelled request again.
    ASSERT_EQ(SetWaitMask(EV_CTS), STATUS_SUCCESS);
    port_->ReportModemStatus(0x11);
    sim::Settle();

    Pending next;
    StartWait(next);
    sim::Settle();
    ExpectWaitEnded(next, EV_CTS);
}

TEST_F(EventWaitTest, ClosingTheFileEndsItsWait) {
    ASSERT_EQ(SetWaitMask(EV_CTS), STATUS_SUCCESS);
    ASSERT_EQ(Set(file_, IOCTL_SERIAL_LSRMST_INSERT, UCHAR{0xFF}).status, STATUS_SUCCESS);
    Pending wait;
    StartWait(wait);
    sim::Settle();
    ASSERT_FALSE(wait.Done());
    Close(file_);
    sim::Settle();
    ASSERT_TRUE(wait.Done());
    EXPECT_EQ(wait.Status(), STATUS_CANCELLED);

    // While closed there is no receive stream to insert status sequences into.
    port_->ReportModemStatus(0x11);
    sim::Settle();
    file_ = Open();
    ASSERT_NE(file_, win32::INVALID_HANDLE_VALUE);
    EXPECT_EQ(Get<SERIALPERF_STATS>(file_, IOCTL_SERIAL_GET_STATS).BufferOverrunErrorCount, 0u);
    EXPECT_EQ(ReadAvailable(), "");
}

}  // namespace
}  // namespace serial::testing
