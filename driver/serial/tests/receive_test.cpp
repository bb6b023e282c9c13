// Receiving and reading through the file API on the virtual clock: the read
// time-outs, the receive ring (overrun, wrap-around, enlargement), the
// per-character treatment and purging.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "receive_fixture.h"

namespace serial::testing {
namespace {

using namespace std::string_literals;

// ---- read time-outs ------------------------------------------------------------

struct Arrival {
    ULONG atMs;  // after the read was issued
    std::string bytes;
};

struct TimeoutCase {
    const char* name;
    SERIAL_TIMEOUTS timeouts;  // only the read values matter
    std::string buffered;      // in the ring, long before the read
    ULONG length;
    std::vector<Arrival> arrivals;
    ULONG endsAtMs;
    NTSTATUS status;
    std::string data;
    std::string leftInRing;
};

void PrintTo(const TimeoutCase& c, std::ostream* out) {
    *out << c.name;
}

class ReadTimeoutTest : public ReceiveTest, public ::testing::WithParamInterface<TimeoutCase> {};

TEST_P(ReadTimeoutTest, EndsWhenAndHowTheTimeoutsSay) {
    const TimeoutCase& c = GetParam();
    ASSERT_EQ(port_->Receive(c.buffered), c.buffered.size());
    // The buffered characters are old: an interval counted from their arrival
    // would be over long ago.
    sim::AdvanceTimeMs(1000);
    ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_TIMEOUTS, c.timeouts).status, STATUS_SUCCESS);

    Pending read;
    ASSERT_TRUE(read.Read(file_, c.length));
    sim::Settle();
    ULONG now = 0;
    auto advanceTo = [&](ULONG ms) {
        if (ms > now) sim::AdvanceTimeMs(ms - now);
        now = std::max(now, ms);
    };
    auto deliver = [&](const Arrival& arrival) {
        advanceTo(arrival.atMs);
        port_->Receive(arrival.bytes);
        sim::Settle();
    };
    for (const Arrival& arrival : c.arrivals) {
        if (arrival.atMs >= c.endsAtMs) break;
        deliver(arrival);
        ASSERT_FALSE(read.Done()) << "ended at " << arrival.atMs << " ms";
    }
    if (c.endsAtMs > 0) {
        advanceTo(c.endsAtMs - 1);
        ASSERT_FALSE(read.Done()) << "ended before " << c.endsAtMs << " ms";
    }
    advanceTo(c.endsAtMs);
    for (const Arrival& arrival : c.arrivals) {
        if (arrival.atMs == c.endsAtMs) deliver(arrival);
    }
    ASSERT_TRUE(read.Done()) << "still pending at " << c.endsAtMs << " ms";
    EXPECT_EQ(read.Status(), c.status);
    EXPECT_EQ(read.Information(), c.data.size());
    EXPECT_EQ(read.Data(), c.data);
    EXPECT_EQ(Drain(), c.leftInRing);
}

SERIAL_TIMEOUTS ReadTimeouts(ULONG interval, ULONG multiplier, ULONG constant) {
    return {interval, multiplier, constant, 0, 0};
}

INSTANTIATE_TEST_SUITE_P(
    Modes, ReadTimeoutTest,
    ::testing::Values(
        // MAXULONG/0/0: at once with what is buffered.
        TimeoutCase{"AtOnceWithBuffered",
                    ReadTimeouts(kMax, 0, 0),
                    "abc",
                    10,
                    {},
                    0,
                    STATUS_SUCCESS,
                    "abc",
                    ""},
        TimeoutCase{"AtOnceShorterThanBuffered",
                    ReadTimeouts(kMax, 0, 0),
                    "abcdef",
                    4,
                    {},
                    0,
                    STATUS_SUCCESS,
                    "abcd",
                    "ef"},
        TimeoutCase{
            "AtOnceWithNothing", ReadTimeouts(kMax, 0, 0), "", 10, {}, 0, STATUS_SUCCESS, "", ""},
        TimeoutCase{"ZeroLengthEndsAtOnce",
                    ReadTimeouts(0, 0, 0),
                    "ab",
                    0,
                    {},
                    0,
                    STATUS_SUCCESS,
                    "",
                    "ab"},
        // MAXULONG/MAXULONG/RC: the first character ends the read.
        TimeoutCase{"FirstCharacter",
                    ReadTimeouts(kMax, kMax, 500),
                    "",
                    10,
                    {{100, "xyz"}},
                    100,
                    STATUS_SUCCESS,
                    "x",
                    "yz"},
        TimeoutCase{"FirstCharacterAlreadyBuffered",
                    ReadTimeouts(kMax, kMax, 500),
                    "ab",
                    10,
                    {},
                    0,
                    STATUS_SUCCESS,
                    "ab",
                    ""},
        TimeoutCase{"FirstCharacterNeverComes",
                    ReadTimeouts(kMax, kMax, 500),
                    "",
                    10,
                    {},
                    500,
                    STATUS_TIMEOUT,
                    "",
                    ""},
        // 0/0/0: only the length ends the read.
        TimeoutCase{"WaitsForAll",
                    ReadTimeouts(0, 0, 0),
                    "a",
                    5,
                    {{10, "b"}, {3000, "cd"}, {9000, "efg"}},
                    9000,
                    STATUS_SUCCESS,
                    "abcde",
                    "fg"},
        // Total: RM * length + RC, the buffered characters counted as read.
        TimeoutCase{
            "TotalTimeout", ReadTimeouts(0, 10, 100), "", 20, {}, 300, STATUS_TIMEOUT, "", ""},
        TimeoutCase{"TotalTimeoutAfterHalf",
                    ReadTimeouts(0, 10, 100),
                    "",
                    10,
                    {{50, "abcde"}},
                    200,
                    STATUS_TIMEOUT,
                    "abcde",
                    ""},
        TimeoutCase{"TotalTimeoutCountsOnlyWhatIsMissing",
                    ReadTimeouts(0, 10, 100),
                    "abc",
                    10,
                    {},
                    170,
                    STATUS_TIMEOUT,
                    "abc",
                    ""},
        TimeoutCase{"TotalTimeoutConstantOnly",
                    ReadTimeouts(0, 0, 40),
                    "",
                    10,
                    {{10, "ab"}},
                    40,
                    STATUS_TIMEOUT,
                    "ab",
                    ""},
        // Interval: from the last character, not before the first one.
        TimeoutCase{"IntervalFromLastCharacter",
                    ReadTimeouts(20, 0, 0),
                    "",
                    10,
                    {{100, "ab"}, {115, "cd"}},
                    135,
                    STATUS_TIMEOUT,
                    "abcd",
                    ""},
        TimeoutCase{"IntervalRaisedToMinimum",
                    ReadTimeouts(2, 0, 0),
                    "",
                    10,
                    {{10, "a"}},
                    10 + kMinimumInterval,
                    STATUS_TIMEOUT,
                    "a",
                    ""},
        TimeoutCase{"IntervalFromReadStartWhenBuffered",
                    ReadTimeouts(20, 0, 0),
                    "ab",
                    10,
                    {},
                    20,
                    STATUS_TIMEOUT,
                    "ab",
                    ""},
        TimeoutCase{"IntervalRestartsWithArrivalsAfterBuffered",
                    ReadTimeouts(20, 0, 0),
                    "ab",
                    10,
                    {{15, "c"}},
                    35,
                    STATUS_TIMEOUT,
                    "abc",
                    ""},
        TimeoutCase{"LengthBeatsInterval",
                    ReadTimeouts(20, 0, 0),
                    "",
                    3,
                    {{5, "ab"}, {10, "cde"}},
                    10,
                    STATUS_SUCCESS,
                    "abc",
                    "de"},
        TimeoutCase{"TotalBeatsInterval",
                    ReadTimeouts(50, 0, 100),
                    "",
                    10,
                    {{20, "a"}, {60, "b"}},
                    100,
                    STATUS_TIMEOUT,
                    "ab",
                    ""},
        TimeoutCase{"EndlessIntervalWithTotal",
                    ReadTimeouts(kMax, 0, 100),
                    "",
                    10,
                    {{10, "a"}},
                    100,
                    STATUS_TIMEOUT,
                    "a",
                    ""}),
    [](const ::testing::TestParamInfo<TimeoutCase>& info) { return std::string(info.param.name); });

TEST_F(ReceiveTest, ReadsReturningAtOnceAreServedInline) {
    SetReadTimeouts(kMax, 0, 0);
    port_->Receive("hello");
    char buffer[16] = {};
    win32::OVERLAPPED overlapped{};
    overlapped.hEvent = win32::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    EXPECT_TRUE(win32::ReadFile(file_, buffer, sizeof buffer, nullptr, &overlapped));
    EXPECT_EQ(overlapped.InternalHigh, 5u);
    EXPECT_EQ(std::string(buffer), "hello");
    (void)win32::CloseHandle(overlapped.hEvent);
}

TEST_F(ReceiveTest, QueuedReadsEndInOrderAndCancellingOneStartsTheNext) {
    SetReadTimeouts(0, 0, 0);
    Pending first, second, third;
    ASSERT_TRUE(first.Read(file_, 3));
    ASSERT_TRUE(second.Read(file_, 3));
    ASSERT_TRUE(third.Read(file_, 2));
    port_->Receive("ab");
    sim::Settle();
    ASSERT_TRUE(win32::CancelIo(file_));  // all three
    sim::Settle();
    for (Pending* read : {&first, &second, &third}) {
        ASSERT_TRUE(read->Done());
        EXPECT_EQ(read->Status(), STATUS_CANCELLED);
        EXPECT_EQ(read->Information(), 0u);
    }
    Pending fourth, fifth;
    ASSERT_TRUE(fourth.Read(file_, 3));
    ASSERT_TRUE(fifth.Read(file_, 2));
    port_->Receive("cdefg");
    sim::Settle();
    EXPECT_EQ(fourth.Data(), "cde");
    EXPECT_EQ(fifth.Data(), "fg");
}

// ---- the ring --------------------------------------------------------------------

TEST_F(ReceiveTest, OverrunKeepsWhatFitsAndReportsIt) {
    Close(file_);
    sim::SetSystemSize(MmSmallSystem);
    OpenPort();
    ASSERT_EQ(port_->rxBufferSize, 128u);
    std::string bytes;
    for (int index = 0; index < 130; ++index) bytes += static_cast<char>(index);
    EXPECT_EQ(port_->Receive(bytes), 128u);
    EXPECT_EQ(Buffered(), 128u);
    const SERIALPERF_STATS stats = Stats();
    EXPECT_EQ(stats.BufferOverrunErrorCount, 1u);
    EXPECT_EQ(stats.ReceivedCount, 128u);
    EXPECT_EQ(CommStatus().Errors, SERIAL_ERROR_QUEUEOVERRUN);
    EXPECT_EQ(CommStatus().Errors, 0u);
    EXPECT_EQ(Drain(), bytes.substr(0, 128));
}

TEST_F(ReceiveTest, OverrunWithErrorAbortCancelsReadsUntilTheStatusIsRead) {
    Close(file_);
    sim::SetSystemSize(MmSmallSystem);
    OpenPort();
    ASSERT_EQ(
        Set(file_, IOCTL_SERIAL_SET_HANDFLOW,
            SERIAL_HANDFLOW{SERIAL_DTR_CONTROL | SERIAL_ERROR_ABORT, SERIAL_RTS_CONTROL, 0, 0})
            .status,
        STATUS_SUCCESS);
    port_->Locked([&] { port_->activeControlHandShake |= SERIAL_ERROR_ABORT; });
    SetReadTimeouts(kMax, 0, 0);
    port_->Receive(std::string(129, 'x'));
    Pending refused;
    refused.Read(file_, 10);
    refused.Wait();
    EXPECT_EQ(refused.Status(), STATUS_CANCELLED);
    EXPECT_EQ(CommStatus().Errors, SERIAL_ERROR_QUEUEOVERRUN);
    EXPECT_EQ(Drain(), std::string(128, 'x'));
}

// Fills the ring so that its contents wrap, then reads it back.
struct RingCase {
    const char* name;
    ULONG first;      // received first
    ULONG taken;      // then read
    ULONG second;     // then received
    ULONG enlargeTo;  // then SET_QUEUE_SIZE (0: none)
};

void PrintTo(const RingCase& c, std::ostream* out) {
    *out << c.name;
}

class RingTest : public ReceiveTest, public ::testing::WithParamInterface<RingCase> {
  protected:
    void SetUp() override {
        sim::SetSystemSize(MmSmallSystem);
        ReceiveTest::SetUp();
    }
};

TEST_P(RingTest, KeepsByteOrder) {
    const RingCase& c = GetParam();
    ASSERT_EQ(port_->rxBufferSize, 128u);
    std::string sent;
    for (ULONG index = 0; index < c.first + c.second; ++index) {
        sent += static_cast<char>('A' + index % 53);
    }
    port_->Receive(sent.substr(0, c.first));
    SetReadTimeouts(kMax, 0, 0);
    Pending read;
    ASSERT_TRUE(read.Read(file_, c.taken));
    read.Wait();
    ASSERT_EQ(read.Data(), sent.substr(0, c.taken));
    EXPECT_EQ(port_->Receive(sent.substr(c.first)), c.second);
    if (c.enlargeTo != 0) {
        SetQueueSize(c.enlargeTo);
        EXPECT_EQ(port_->rxBufferSize, c.enlargeTo);
        EXPECT_EQ(Buffered(), c.first + c.second - c.taken);
        // The enlarged ring takes more, still in order.
        port_->Receive("tail");
        sent += "tail";
    }
    EXPECT_EQ(Drain(), sent.substr(c.taken));
    EXPECT_EQ(CommStatus().Errors, 0u);
}

INSTANTIATE_TEST_SUITE_P(Contents, RingTest,
                         ::testing::Values(RingCase{"Wrapped", 100, 60, 80, 0},
                                           RingCase{"Full", 100, 60, 88, 0},
                                           RingCase{"EnlargedInOnePiece", 100, 30, 20, 1024},
                                           RingCase{"EnlargedAtTheEnd", 128, 28, 0, 1024},
                                           RingCase{"EnlargedWrapped", 100, 60, 80, 1024},
                                           RingCase{"EnlargedWrappedFull", 100, 60, 88, 256},
                                           RingCase{"EnlargedEmpty", 50, 50, 0, 256}),
                         [](const ::testing::TestParamInfo<RingCase>& info) {
                             return std::string(info.param.name);
                         });

TEST_F(ReceiveTest, QueueSizeNeverShrinks) {
    const ULONG size = port_->rxBufferSize;
    port_->Receive("keep");
    SetQueueSize(16);
    SetQueueSize(size);
    EXPECT_EQ(port_->rxBufferSize, size);
    EXPECT_EQ(Drain(), "keep");
}

// ---- per-character treatment -------------------------------------------------------

class CharacterTest;

struct CharacterCase {
    const char* name;
    std::function<void(CharacterTest&)> setup;
    std::string received;
    ULONG pendingRead;     // length of a read waiting when the bytes arrive (0: none)
    std::string readData;  // what that read gets
    std::string buffered;  // what stays in the ring
    ULONG accepted;        // PutReceived's count
};

void PrintTo(const CharacterCase& c, std::ostream* out) {
    *out << c.name;
}

class CharacterTest : public ReceiveTest, public ::testing::WithParamInterface<CharacterCase> {
  public:
    using ReceiveTest::port_;
    using ReceiveTest::SetFlowReplace;
    using ReceiveTest::SetWordLength;
    void SetEscape(UCHAR character) {
        ASSERT_EQ(Set(file_, IOCTL_SERIAL_LSRMST_INSERT, character).status, STATUS_SUCCESS);
    }
    void HoldForDsr() {
        port_->Locked([&] { port_->rxHoldReasons |= kRxHoldDsr; });
    }
};

TEST_P(CharacterTest, ReachesTheReaderAsTreated) {
    const CharacterCase& c = GetParam();
    if (c.setup) c.setup(*this);
    SetReadTimeouts(0, 0, 0);
    Pending read;
    if (c.pendingRead != 0) {
        ASSERT_TRUE(read.Read(file_, c.pendingRead));
    }
    sim::Settle();
    EXPECT_EQ(port_->Receive(c.received), c.accepted);
    sim::Settle();
    if (c.pendingRead != 0) {
        ASSERT_TRUE(read.Done());
        EXPECT_EQ(read.Status(), STATUS_SUCCESS);
        EXPECT_EQ(read.Data(), c.readData);
    }
    EXPECT_EQ(Drain(), c.buffered);
    EXPECT_EQ(Stats().ReceivedCount, c.accepted);
}

INSTANTIATE_TEST_SUITE_P(
    Treatments, CharacterTest,
    ::testing::Values(
        CharacterCase{"BlockCopyKeepsEveryByte", nullptr, "a\0\x13\x11\xFF"s, 0, "",
                      "a\0\x13\x11\xFF"s, 5},
        CharacterCase{"BlockCopyIntoReadAndRing", nullptr, "abcdef", 4, "abcd", "ef", 6},
        CharacterCase{"SevenDataBits", [](CharacterTest& t) { t.SetWordLength(7); }, "\xC1\x41\xFF",
                      0, "", "AA\x7F", 3},
        CharacterCase{"NullStripping",
                      [](CharacterTest& t) { t.SetFlowReplace(SERIAL_NULL_STRIPPING); },
                      "\0a\0\0b\0"s, 0, "", "ab", 2},
        CharacterCase{"AutoTransmitSwallowsXonXoff",
                      [](CharacterTest& t) { t.SetFlowReplace(SERIAL_AUTO_TRANSMIT); },
                      "a\x13"
                      "b\x11"
                      "c",
                      0, "", "abc", 3},
        CharacterCase{"EscapeIsDoubled", [](CharacterTest& t) { t.SetEscape(0xFF); },
                      "a\xFF"
                      "b",
                      0, "", "a\xFF\0b"s, 2},
        CharacterCase{"EscapePairStraddlesReadAndRing", [](CharacterTest& t) { t.SetEscape(0xFF); },
                      "a\xFF"
                      "b",
                      2, "a\xFF", "\0b"s, 2},
        CharacterCase{"DsrHoldDropsBlocks", [](CharacterTest& t) { t.HoldForDsr(); }, "abc", 0, "",
                      "", 0},
        CharacterCase{"DsrHoldDropsCharacters",
                      [](CharacterTest& t) {
                          t.SetWordLength(7);
                          t.HoldForDsr();
                      },
                      "abc", 0, "", "", 0}),
    [](const ::testing::TestParamInfo<CharacterCase>& info) {
        return std::string(info.param.name);
    });

TEST_F(ReceiveTest, EscapePairStraddlingAFullRingLosesOnlyTheSecondByte) {
    Close(file_);
    sim::SetSystemSize(MmSmallSystem);
    OpenPort();
    ASSERT_EQ(Set(file_, IOCTL_SERIAL_LSRMST_INSERT, UCHAR{0xFF}).status, STATUS_SUCCESS);
    const std::string filler(127, 'x');
    EXPECT_EQ(port_->Receive(filler + "\xFF"), 127u);
    EXPECT_EQ(CommStatus().Errors, SERIAL_ERROR_QUEUEOVERRUN);
    EXPECT_EQ(Drain(), filler + "\xFF");
}

TEST_F(ReceiveTest, AutoTransmitXoffHoldsAndXonResumesTransmission) {
    SetFlowReplace(SERIAL_AUTO_TRANSMIT);
    const int startsBefore = port_->startTransmitCalls;
    port_->Receive("\x13");
    EXPECT_EQ(port_->txHoldReasons, kTxHoldXoffReceived);
    port_->Receive("\x11");
    EXPECT_EQ(port_->txHoldReasons, 0);
    EXPECT_EQ(port_->startTransmitCalls, startsBefore + 1);
}

// ---- purging ---------------------------------------------------------------------------

struct PurgeCase {
    const char* name;
    ULONG mask;
    bool readsCancelled;
    bool ringCleared;
};

void PrintTo(const PurgeCase& c, std::ostream* out) {
    *out << c.name;
}

class PurgeTest : public ReceiveTest, public ::testing::WithParamInterface<PurgeCase> {};

TEST_P(PurgeTest, EndsReadsOrEmptiesTheRing) {
    const PurgeCase& c = GetParam();
    port_->Receive("ring");
    EXPECT_EQ(Set(file_, IOCTL_SERIAL_PURGE, c.mask).status, STATUS_SUCCESS);
    EXPECT_EQ(Drain(), c.ringCleared ? "" : "ring");

    SetReadTimeouts(0, 0, 0);
    Pending current, queued;
    ASSERT_TRUE(current.Read(file_, 5));
    ASSERT_TRUE(queued.Read(file_, 2));
    port_->Receive("abc");
    EXPECT_EQ(Set(file_, IOCTL_SERIAL_PURGE, c.mask).status, STATUS_SUCCESS);
    sim::Settle();
    if (c.readsCancelled) {
        for (Pending* read : {&current, &queued}) {
            ASSERT_TRUE(read->Done());
            EXPECT_EQ(read->Status(), STATUS_CANCELLED);
            EXPECT_EQ(read->Information(), 0u);
        }
        // The queue takes reads again.
        Pending next;
        ASSERT_TRUE(next.Read(file_, 2));
        port_->Receive("de");
        sim::Settle();
        EXPECT_EQ(next.Data(), "de");
    } else {
        EXPECT_FALSE(current.Done());
        port_->Receive("defg");
        sim::Settle();
        EXPECT_EQ(current.Data(), "abcde");
        EXPECT_EQ(queued.Data(), "fg");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Masks, PurgeTest,
    ::testing::Values(PurgeCase{"Abort", PURGE_RXABORT, true, false},
                      PurgeCase{"Clear", PURGE_RXCLEAR, false, true},
                      PurgeCase{"AbortAndClear", PURGE_RXABORT | PURGE_RXCLEAR, true, true},
                      PurgeCase{"TransmitOnly", PURGE_TXABORT | PURGE_TXCLEAR, false, false}),
    [](const ::testing::TestParamInfo<PurgeCase>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace serial::testing
