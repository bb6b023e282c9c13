// The fixture of the receive tests: one open port with eight data bits on a
// clock of one-millisecond ticks, and helpers for settings and the ring.
#pragma once

#include <string>

#include "serial_fixture.h"

namespace serial::testing {

inline constexpr ULONG kMax = MAXULONG;

// One-millisecond clock ticks, so that time-outs end on the millisecond they
// are due; the smallest interval time-out is then five ticks, 5 ms.
inline constexpr ULONG kMillisecondTick = 10000;
inline constexpr ULONG kMinimumInterval = 5;

class ReceiveTest : public SerialTest {
  protected:
    ReceiveTest() { sim::SetTimeIncrement(kMillisecondTick); }

    void SetUp() override {
        SerialTest::SetUp();
        port_ = CreatePort();
        ASSERT_NE(port_, nullptr);
        OpenPort();
    }

    void OpenPort() {
        file_ = Open();
        ASSERT_NE(file_, win32::INVALID_HANDLE_VALUE);
        // Eight data bits: no per-character treatment unless a case asks for it.
        SetWordLength(8);
    }

    void SetWordLength(UCHAR bits) {
        ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_LINE_CONTROL, SERIAL_LINE_CONTROL{0, 0, bits}).status,
                  STATUS_SUCCESS);
    }
    void SetReadTimeouts(ULONG interval, ULONG multiplier, ULONG constant) {
        ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_TIMEOUTS,
                      SERIAL_TIMEOUTS{interval, multiplier, constant, 0, 0})
                      .status,
                  STATUS_SUCCESS);
    }
    // SET_HANDFLOW, and the flow-replace bits the receive path reads.
    void SetFlowReplace(ULONG flowReplace) {
        ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_HANDFLOW,
                      SERIAL_HANDFLOW{SERIAL_DTR_CONTROL, flowReplace, 0, 0})
                      .status,
                  STATUS_SUCCESS);
        port_->Locked([&] { port_->activeFlowReplace = flowReplace; });
    }
    void SetQueueSize(ULONG size) {
        ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_QUEUE_SIZE, SERIAL_QUEUE_SIZE{size, 0}).status,
                  STATUS_SUCCESS);
    }

    // Everything the ring holds, read at once.
    std::string Drain() {
        SetReadTimeouts(kMax, 0, 0);
        Pending read;
        EXPECT_TRUE(read.Read(file_, 0x10000));
        read.Wait();
        EXPECT_EQ(read.Status(), STATUS_SUCCESS);
        return read.Data();
    }
    [[nodiscard]] ULONG Buffered() {
        ULONG count = 0;
        port_->Locked([&] { count = port_->rxCount; });
        return count;
    }
    [[nodiscard]] SERIAL_STATUS CommStatus() {
        return Get<SERIAL_STATUS>(file_, IOCTL_SERIAL_GET_COMMSTATUS);
    }
    [[nodiscard]] SERIALPERF_STATS Stats() {
        return Get<SERIALPERF_STATS>(file_, IOCTL_SERIAL_GET_STATS);
    }

    TestPort* port_ = nullptr;
    HANDLE file_ = nullptr;
};

}  // namespace serial::testing
