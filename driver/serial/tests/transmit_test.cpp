// Transmitting through the file API: writes and their total time-outs, the
// immediate character, flow-control characters, XOFF counters, flushes and the
// drain, EV_TXEMPTY, break and PURGE_TXABORT. The clock ticks every millisecond,
// so time-outs are checked to the tick.
#include <atomic>
#include <string>
#include <thread>

#include "serial_fixture.h"

namespace serial::testing {
namespace {

constexpr ULONG kTick = 10000;  // 1 ms in 100-ns units

// A flush running in its own thread (FlushFileBuffers is synchronous).
class Flush {
  public:
    explicit Flush(HANDLE file)
        : thread_(sim::StartThread([this, file] {
              succeeded_ = win32::FlushFileBuffers(file) != FALSE;
              if (!succeeded_) status_ = win32::LastNtStatus();
              done_ = true;
          })) {}
    ~Flush() { Join(); }
    void Join() {
        if (thread_.joinable()) sim::Join(thread_);
    }
    [[nodiscard]] bool Done() const { return done_; }
    [[nodiscard]] bool Succeeded() const { return succeeded_; }
    [[nodiscard]] NTSTATUS Status() const { return status_; }

  private:
    std::atomic<bool> done_{false};
    std::atomic<bool> succeeded_{false};
    std::atomic<NTSTATUS> status_{STATUS_SUCCESS};
    std::thread thread_;
};

class TransmitTest : public SerialTest {
  protected:
    void SetUp() override {
        sim::SetTimeIncrement(kTick);
        SerialTest::SetUp();
    }

    // transferSize 0: bytes leave only when the test takes them (Transmit).
    void MakePort(ULONG transferSize = 0, NTSTATUS powerUpStatus = STATUS_SUCCESS) {
        TestPort::nextOptions.transferSize = transferSize;
        TestPort::nextOptions.powerUpStatus = powerUpStatus;
        port_ = CreatePort();
        ASSERT_NE(port_, nullptr);
        file_ = Open();
        ASSERT_NE(file_, win32::INVALID_HANDLE_VALUE);
        SetTimeouts(0, 0);
    }
    void SetTimeouts(ULONG multiplier, ULONG constant) {
        SERIAL_TIMEOUTS timeouts{};
        timeouts.WriteTotalTimeoutMultiplier = multiplier;
        timeouts.WriteTotalTimeoutConstant = constant;
        ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_TIMEOUTS, timeouts).status, STATUS_SUCCESS);
    }
    // Takes from the transmit source until it gives nothing, holding the port
    // lock throughout so that the next queued request cannot start meanwhile.
    std::string TransmitAll() {
        std::string all;
        port_->Locked([&] {
            for (std::string bytes = port_->Transmit(64); !bytes.empty();
                 bytes = port_->Transmit(64)) {
                all += bytes;
            }
        });
        return all;
    }
    void Advance(ULONG milliseconds) {
        sim::AdvanceTimeMs(milliseconds);
        sim::Settle();
    }
    static void ExpectEnded(const Pending& request, NTSTATUS status, ULONG information) {
        EXPECT_EQ(request.Status(), status);
        EXPECT_EQ(request.Information(), information);
    }

    TestPort* port_ = nullptr;
    HANDLE file_ = nullptr;
};

TEST_F(TransmitTest, RequestsThatEndAtOnce) {
    MakePort();
    Pending empty;
    ASSERT_TRUE(empty.Write(file_, ""));
    sim::Settle();
    ExpectEnded(empty, STATUS_SUCCESS, 0);

    // Under error abort writes and flushes are refused.
    port_->Locked([&] {
        port_->errorFlags = SERIAL_ERROR_FRAMING;
        port_->activeControlHandShake |= SERIAL_ERROR_ABORT;
    });
    Pending write;
    (void)write.Write(file_, "abc");
    sim::Settle();
    ExpectEnded(write, STATUS_CANCELLED, 0);
    EXPECT_FALSE(win32::FlushFileBuffers(file_));
    EXPECT_EQ(win32::LastNtStatus(), STATUS_CANCELLED);
    port_->Locked([&] { port_->errorFlags = 0; });
    EXPECT_EQ(TransmitAll(), "");
}

TEST_F(TransmitTest, PowerUpFailureEndsWritesAndFlushes) {
    MakePort(0, STATUS_DEVICE_NOT_CONNECTED);
    Pending write;
    (void)write.Write(file_, "abc");
    sim::Settle();
    ExpectEnded(write, STATUS_DEVICE_NOT_CONNECTED, 0);
    EXPECT_FALSE(win32::FlushFileBuffers(file_));
    EXPECT_EQ(win32::LastNtStatus(), STATUS_DEVICE_NOT_CONNECTED);
    EXPECT_EQ(TransmitAll(), "");
}

// The total time-out is Multiplier × length + Constant, computed in 64 bits and
// capped at MAXULONG; an ended write reports the bytes taken and gives no more.
TEST_F(TransmitTest, WriteTotalTimeout) {
    struct Case {
        const char* name;
        ULONG multiplier;
        ULONG constant;
        ULONG length;
        ULONG taken;
        ULONG stillPendingAtMs;
        ULONG endsAtMs;  // 0: no time-out
    };
    constexpr Case kCases[] = {
        {"multiplier and constant", 1, 50, 100, 40, 149, 150},
        {"constant only", 0, 30, 10, 0, 29, 30},
        {"beyond 32 bits", 0x80000000, 5, 2, 1, 1000, 0},
        {"none", 0, 0, 10, 3, 100000, 0},
    };
    MakePort();
    for (const Case& test : kCases) {
        SCOPED_TRACE(test.name);
        SetTimeouts(test.multiplier, test.constant);
        std::string bytes;
        for (ULONG index = 0; index < test.length; ++index) bytes += char('A' + index % 26);
        Pending write;
        ASSERT_TRUE(write.Write(file_, bytes));
        sim::Settle();
        EXPECT_EQ(port_->Transmit(test.taken), bytes.substr(0, test.taken));
        Advance(test.stillPendingAtMs);
        EXPECT_FALSE(write.Done());
        if (test.endsAtMs != 0) {
            Advance(test.endsAtMs - test.stillPendingAtMs);
            ExpectEnded(write, STATUS_TIMEOUT, test.taken);
            EXPECT_EQ(port_->BytesToTransmit(), 0U);
            EXPECT_EQ(TransmitAll(), "");
        } else {
            EXPECT_EQ(TransmitAll(), bytes.substr(test.taken));
            sim::Settle();
            ExpectEnded(write, STATUS_SUCCESS, test.length);
        }
    }
}

TEST_F(TransmitTest, ImmediateCharGoesAheadOfTheCurrentWrite) {
    MakePort();
    Pending write;
    ASSERT_TRUE(write.Write(file_, "abcdef"));
    sim::Settle();
    EXPECT_EQ(port_->Transmit(2), "ab");

    Pending first;
    ASSERT_TRUE(first.Control(file_, IOCTL_SERIAL_IMMEDIATE_CHAR, "Z", 1));
    sim::Settle();
    EXPECT_FALSE(first.Done());
    const auto status = Get<SERIAL_STATUS>(file_, IOCTL_SERIAL_GET_COMMSTATUS);
    EXPECT_TRUE(status.WaitForImmediate);
    EXPECT_EQ(status.AmountInOutQueue, 4U);
    EXPECT_EQ(port_->BytesToTransmit(), 1U);

    // One outstanding at a time.
    EXPECT_EQ(Control(file_, IOCTL_SERIAL_IMMEDIATE_CHAR, "Y", 1).status, STATUS_INVALID_PARAMETER);

    EXPECT_EQ(port_->Transmit(64), "Z");
    sim::Settle();
    ExpectEnded(first, STATUS_SUCCESS, 1);
    EXPECT_EQ(TransmitAll(), "cdef");
    sim::Settle();
    ExpectEnded(write, STATUS_SUCCESS, 6);
}

// A held immediate character that ends without going out is withdrawn, and the
// next one is accepted.
TEST_F(TransmitTest, ImmediateCharEndings) {
    enum class Ending { Timeout, CancelAtPassive, CancelAtDispatch, Purge };
    struct Case {
        const char* name;
        Ending ending;
        NTSTATUS status;
    };
    constexpr Case kCases[] = {
        {"time-out", Ending::Timeout, STATUS_TIMEOUT},
        {"cancelled at PASSIVE_LEVEL", Ending::CancelAtPassive, STATUS_CANCELLED},
        {"cancelled at DISPATCH_LEVEL", Ending::CancelAtDispatch, STATUS_CANCELLED},
        {"purged", Ending::Purge, STATUS_CANCELLED},
    };
    MakePort();
    for (const Case& test : kCases) {
        SCOPED_TRACE(test.name);
        // Multiplier + Constant milliseconds.
        SetTimeouts(test.ending == Ending::Timeout ? 10 : 0,
                    test.ending == Ending::Timeout ? 20 : 0);
        Pending held;
        ASSERT_TRUE(held.Control(file_, IOCTL_SERIAL_IMMEDIATE_CHAR, "Z", 1));
        sim::Settle();
        switch (test.ending) {
            case Ending::Timeout:
                Advance(29);
                EXPECT_FALSE(held.Done());
                Advance(1);
                break;
            case Ending::CancelAtPassive:
                EXPECT_TRUE(win32::CancelIoEx(file_, nullptr));
                break;
            case Ending::CancelAtDispatch: {
                KIRQL previous;
                KeRaiseIrql(DISPATCH_LEVEL, &previous);
                (void)win32::CancelIoEx(file_, nullptr);
                KeLowerIrql(previous);
                break;
            }
            case Ending::Purge:
                EXPECT_EQ(Set(file_, IOCTL_SERIAL_PURGE, ULONG{PURGE_TXABORT}).status,
                          STATUS_SUCCESS);
                break;
        }
        sim::Settle();
        ExpectEnded(held, test.status, 0);
        // However it ended, the character is not sent afterwards.
        EXPECT_EQ(TransmitAll(), "");
        EXPECT_FALSE(Get<SERIAL_STATUS>(file_, IOCTL_SERIAL_GET_COMMSTATUS).WaitForImmediate);
        port_->ClearRecords();

        Pending next;
        ASSERT_TRUE(next.Control(file_, IOCTL_SERIAL_IMMEDIATE_CHAR, "Q", 1));
        sim::Settle();
        EXPECT_EQ(TransmitAll(), "Q");
        sim::Settle();
        ExpectEnded(next, STATUS_SUCCESS, 1);
    }
}

// The timer of a character that went out stays set; it must not end a later
// character that has no time-out of its own.
TEST_F(TransmitTest, EarlierImmediateCharTimerLeavesTheNextAlone) {
    MakePort();
    SetTimeouts(0, 30);
    Pending first;
    ASSERT_TRUE(first.Control(file_, IOCTL_SERIAL_IMMEDIATE_CHAR, "A", 1));
    sim::Settle();
    EXPECT_EQ(TransmitAll(), "A");
    sim::Settle();
    ExpectEnded(first, STATUS_SUCCESS, 1);
    SetTimeouts(0, 0);
    Pending second;
    ASSERT_TRUE(second.Control(file_, IOCTL_SERIAL_IMMEDIATE_CHAR, "B", 1));
    Advance(100);
    EXPECT_FALSE(second.Done());
    EXPECT_EQ(TransmitAll(), "B");
    sim::Settle();
    ExpectEnded(second, STATUS_SUCCESS, 1);
}

// XON and XOFF go out before data; an XOFF without SERIAL_XOFF_CONTINUE then
// holds transmission as if an XOFF had been received; any other hold stops
// the flow-control characters too.
TEST_F(TransmitTest, FlowControlCharacters) {
    struct Case {
        const char* name;
        bool sendXon;
        bool sendXoff;
        ULONG flowReplace;
        UCHAR holdBefore;
        const char* sent;
        UCHAR holdAfter;
    };
    const Case kCases[] = {
        {"XOFF holds the data", false, true, SERIAL_AUTO_RECEIVE, 0, "\x13", kTxHoldXoffReceived},
        {"XOFF with XOFF_CONTINUE", false, true, SERIAL_AUTO_RECEIVE | SERIAL_XOFF_CONTINUE, 0,
         "\x13"
         "data",
         0},
        {"XON releases an XOFF hold", true, false, SERIAL_AUTO_RECEIVE, kTxHoldXoffReceived,
         "\x11"
         "data",
         0},
        {"XOFF waits while held by XOFF", false, true, SERIAL_AUTO_RECEIVE, kTxHoldXoffReceived, "",
         kTxHoldXoffReceived},
        {"CTS hold stops XON", true, false, SERIAL_AUTO_RECEIVE, kTxHoldCts, "", kTxHoldCts},
    };
    MakePort();
    for (const Case& test : kCases) {
        SCOPED_TRACE(test.name);
        port_->Locked([&] {
            port_->sendXon = test.sendXon;
            port_->sendXoff = test.sendXoff;
            port_->activeFlowReplace = test.flowReplace;
            port_->txHoldReasons = test.holdBefore;
        });
        Pending write;
        ASSERT_TRUE(write.Write(file_, "data"));
        sim::Settle();
        EXPECT_EQ(TransmitAll(), test.sent);
        UCHAR hold = 0;
        port_->Locked([&] { hold = port_->txHoldReasons; });
        EXPECT_EQ(hold, test.holdAfter);
        // Released, whatever is left goes out.
        port_->Locked([&] {
            port_->txHoldReasons = 0;
            port_->sendXon = port_->sendXoff = false;
        });
        (void)TransmitAll();
        sim::Settle();
        ExpectEnded(write, STATUS_SUCCESS, 4);
    }
}

// An XOFF counter sends its character, then ends: with success once Counter
// characters have arrived, with STATUS_SERIAL_COUNTER_TIMEOUT after
// max(Timeout, five ticks), or with STATUS_SERIAL_MORE_WRITES when a write or
// another counter comes.
TEST_F(TransmitTest, XoffCounterEndings) {
    enum class Ending { Received, Timeout, WriteIssued, SecondCounter, Cancelled };
    struct Case {
        const char* name;
        Ending ending;
        NTSTATUS status;
    };
    constexpr Case kCases[] = {
        {"three characters received", Ending::Received, STATUS_SUCCESS},
        {"time-out", Ending::Timeout, STATUS_SERIAL_COUNTER_TIMEOUT},
        {"write issued", Ending::WriteIssued, STATUS_SERIAL_MORE_WRITES},
        {"second counter", Ending::SecondCounter, STATUS_SERIAL_MORE_WRITES},
        {"cancelled at DISPATCH_LEVEL", Ending::Cancelled, STATUS_CANCELLED},
    };
    ASSERT_EQ(framework::FiveTicksInMilliseconds, 5U);
    MakePort();
    // Timeout 2 ms is raised to five ticks.
    const SERIAL_XOFF_COUNTER counter{2, 3, 0x13};
    for (const Case& test : kCases) {
        SCOPED_TRACE(test.name);
        port_->ClearRecords();
        Pending xoff;
        ASSERT_TRUE(xoff.Control(file_, IOCTL_SERIAL_XOFF_COUNTER, &counter, sizeof counter));
        sim::Settle();
        EXPECT_EQ(TransmitAll(), "\x13");
        sim::Settle();
        EXPECT_FALSE(xoff.Done());
        Pending follower;
        switch (test.ending) {
            case Ending::Received:
                port_->Receive("ab");
                sim::Settle();
                EXPECT_FALSE(xoff.Done());
                port_->Receive("c");
                break;
            case Ending::Timeout:
                Advance(4);
                EXPECT_FALSE(xoff.Done());
                Advance(1);
                break;
            case Ending::WriteIssued:
                ASSERT_TRUE(follower.Write(file_, "hi"));
                break;
            case Ending::SecondCounter:
                ASSERT_TRUE(
                    follower.Control(file_, IOCTL_SERIAL_XOFF_COUNTER, &counter, sizeof counter));
                break;
            case Ending::Cancelled: {
                KIRQL previous;
                KeRaiseIrql(DISPATCH_LEVEL, &previous);
                (void)win32::CancelIoEx(file_, nullptr);
                KeLowerIrql(previous);
                break;
            }
        }
        sim::Settle();
        ExpectEnded(xoff, test.status, 0);
        if (test.ending == Ending::WriteIssued) {
            EXPECT_EQ(TransmitAll(), "hi");
            sim::Settle();
            ExpectEnded(follower, STATUS_SUCCESS, 2);
        } else if (test.ending == Ending::SecondCounter) {
            EXPECT_EQ(TransmitAll(), "\x13");
            Advance(5);
            ExpectEnded(follower, STATUS_SERIAL_COUNTER_TIMEOUT, 0);
        }
        (void)TransmitAll();
    }
}

TEST_F(TransmitTest, XoffCounterWithAWriteBehindIt) {
    MakePort();
    Pending first;
    Pending xoff;
    Pending second;
    const SERIAL_XOFF_COUNTER counter{1000, 3, 0x13};
    ASSERT_TRUE(first.Write(file_, "one"));
    ASSERT_TRUE(xoff.Control(file_, IOCTL_SERIAL_XOFF_COUNTER, &counter, sizeof counter));
    ASSERT_TRUE(second.Write(file_, "two"));
    sim::Settle();
    EXPECT_EQ(TransmitAll(), "one");
    sim::Settle();
    ExpectEnded(first, STATUS_SUCCESS, 3);
    ExpectEnded(xoff, STATUS_SERIAL_MORE_WRITES, 0);
    EXPECT_EQ(TransmitAll(), "two");  // no XOFF character went out
    sim::Settle();
    ExpectEnded(second, STATUS_SUCCESS, 3);
}

// A flush completes ten character times after the last byte of the writes
// queued before it was taken: 10.4 ms at 9600 baud. Transmit toggling asks
// the drain sequencer for its own state on every empty take; that must not cut
// the flush drain short.
TEST_F(TransmitTest, FlushWaitsForTheWritesAndTheDrain) {
    MakePort();
    ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_BAUD_RATE, SERIAL_BAUD_RATE{9600}).status,
              STATUS_SUCCESS);
    constexpr ULONGLONG kDrain = 10ULL * 10 * 10000000 / 9600;  // 100-ns units
    for (const bool toggle : {false, true}) {
        SCOPED_TRACE(toggle ? "transmit toggle" : "no toggle");
        port_->Locked([&] {
            port_->activeFlowReplace = toggle ? SERIAL_TRANSMIT_TOGGLE : SERIAL_RTS_CONTROL;
        });
        port_->ClearRecords();
        Pending first;
        Pending second;
        ASSERT_TRUE(first.Write(file_, "abc"));
        ASSERT_TRUE(second.Write(file_, "de"));
        Flush flush(file_);
        sim::Settle();
        EXPECT_EQ(TransmitAll(), "abc");
        Advance(50);
        EXPECT_FALSE(flush.Done());
        EXPECT_EQ(TransmitAll(), "de");
        const ULONGLONG lastByte = sim::Now();
        sim::Settle();
        ExpectEnded(first, STATUS_SUCCESS, 3);
        ExpectEnded(second, STATUS_SUCCESS, 2);
        while (!flush.Done() && sim::Now() - lastByte < 10 * kDrain) {
            EXPECT_EQ(port_->Transmit(8), "");
            Advance(1);
        }
        flush.Join();
        EXPECT_TRUE(flush.Succeeded());
        const ULONGLONG elapsed = sim::Now() - lastByte;
        EXPECT_GE(elapsed, kDrain);
        EXPECT_LE(elapsed, kDrain + kTick);
        if (toggle) {
            // RTS up while bytes go out, down when the source runs dry.
            const auto changes = port_->Changes();
            ASSERT_FALSE(changes.empty());
            EXPECT_EQ(changes.front(), (HardwareChange{HardwareChange::Kind::Rts, 1}));
            EXPECT_EQ(changes.back(), (HardwareChange{HardwareChange::Kind::Rts, 0}));
        }
    }
}

// EV_TXEMPTY is recorded once when the source runs dry after sending, not
// while it was idle already.
TEST_F(TransmitTest, TxEmptyOnceAfterSending) {
    MakePort();
    ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_WAIT_MASK, ULONG{SERIAL_EV_TXEMPTY}).status,
              STATUS_SUCCESS);
    Pending wait;
    ASSERT_TRUE(wait.Control(file_, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, 4));
    EXPECT_EQ(port_->Transmit(8), "");  // idle before: no event
    sim::Settle();
    EXPECT_FALSE(wait.Done());
    Pending write;
    ASSERT_TRUE(write.Write(file_, "ab"));
    sim::Settle();
    EXPECT_EQ(port_->Transmit(8), "ab");
    sim::Settle();
    EXPECT_FALSE(wait.Done());
    EXPECT_EQ(port_->Transmit(8), "");  // ran dry after sending
    sim::Settle();
    ASSERT_EQ(wait.Status(), STATUS_SUCCESS);
    EXPECT_EQ(wait.Output<ULONG>(), ULONG{SERIAL_EV_TXEMPTY});
    Pending again;
    ASSERT_TRUE(again.Control(file_, IOCTL_SERIAL_WAIT_ON_MASK, nullptr, 0, 4));
    EXPECT_EQ(port_->Transmit(8), "");  // still dry: once only
    sim::Settle();
    EXPECT_FALSE(again.Done());
    // A new mask ends the held wait before its request goes out of scope.
    ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_WAIT_MASK, ULONG{0}).status, STATUS_SUCCESS);
    sim::Settle();
    EXPECT_EQ(again.Status(), STATUS_SUCCESS);
    ExpectEnded(write, STATUS_SUCCESS, 2);
    EXPECT_EQ(port_->perfStats.TransmittedCount, 2U);
}

// Break holds everything, flow-control characters included; SET_BREAK_OFF
// resumes the current write.
TEST_F(TransmitTest, BreakStopsAndResumes) {
    MakePort(64);
    ASSERT_EQ(Control(file_, IOCTL_SERIAL_SET_BREAK_ON).status, STATUS_SUCCESS);
    port_->Locked([&] { port_->sendXon = true; });
    Pending write;
    ASSERT_TRUE(write.Write(file_, "abc"));
    sim::Settle();
    EXPECT_FALSE(write.Done());
    EXPECT_EQ(port_->Sent(), "");
    EXPECT_EQ(port_->BytesToTransmit(), 0U);
    EXPECT_EQ(Get<SERIAL_STATUS>(file_, IOCTL_SERIAL_GET_COMMSTATUS).HoldReasons,
              ULONG{SERIAL_TX_WAITING_ON_BREAK});
    ASSERT_EQ(Control(file_, IOCTL_SERIAL_SET_BREAK_OFF).status, STATUS_SUCCESS);
    sim::Settle();
    EXPECT_EQ(port_->Sent(),
              "\x11"
              "abc");
    ExpectEnded(write, STATUS_SUCCESS, 3);
}

// PURGE_TXABORT ends the current write, everything waiting in the write queue
// and the held immediate character; the queue then takes new writes. The
// purged flush never drained, and the close must not wait for it.
TEST_F(TransmitTest, PurgeTxAbort) {
    MakePort();
    Pending current;
    Pending waiting;
    Pending immediate;
    ASSERT_TRUE(current.Write(file_, "abcdef"));
    ASSERT_TRUE(waiting.Write(file_, "ghi"));
    Flush flush(file_);
    ASSERT_TRUE(immediate.Control(file_, IOCTL_SERIAL_IMMEDIATE_CHAR, "Z", 1));
    sim::Settle();
    EXPECT_EQ(port_->Transmit(2), "Z");  // one byte per take
    sim::Settle();
    ExpectEnded(immediate, STATUS_SUCCESS, 1);
    EXPECT_EQ(port_->Transmit(2), "ab");
    Pending held;
    ASSERT_TRUE(held.Control(file_, IOCTL_SERIAL_IMMEDIATE_CHAR, "Y", 1));
    sim::Settle();
    EXPECT_FALSE(flush.Done());

    EXPECT_EQ(Set(file_, IOCTL_SERIAL_PURGE, ULONG{PURGE_TXABORT | PURGE_TXCLEAR}).status,
              STATUS_SUCCESS);
    sim::Settle();
    flush.Join();
    ExpectEnded(current, STATUS_CANCELLED, 0);
    ExpectEnded(waiting, STATUS_CANCELLED, 0);
    ExpectEnded(held, STATUS_CANCELLED, 0);
    EXPECT_EQ(flush.Status(), STATUS_CANCELLED);
    EXPECT_EQ(TransmitAll(), "");
    const auto status = Get<SERIAL_STATUS>(file_, IOCTL_SERIAL_GET_COMMSTATUS);
    EXPECT_FALSE(status.WaitForImmediate);
    EXPECT_EQ(status.AmountInOutQueue, 0U);

    Pending next;
    ASSERT_TRUE(next.Write(file_, "new"));
    sim::Settle();
    EXPECT_EQ(TransmitAll(), "new");
    sim::Settle();
    ExpectEnded(next, STATUS_SUCCESS, 3);
    Close(file_);
    sim::Settle();
    EXPECT_EQ(port_->openCount, 0);
}

}  // namespace
}  // namespace serial::testing
