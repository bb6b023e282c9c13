// The serial control codes against the port's own state: settings, checks,
// buffer sizes, properties, status, statistics, error abort and the internal
// settings requests.
#include <cstring>

#include "serial_fixture.h"

namespace serial::testing {
namespace {

constexpr ULONG SerialCode(ULONG function) {
    return CTL_CODE(FILE_DEVICE_SERIAL_PORT, function, METHOD_BUFFERED, FILE_ANY_ACCESS);
}

class ControlCodeTest : public SerialTest {
  protected:
    void SetUp() override {
        SerialTest::SetUp();
        port_ = CreatePort();
        ASSERT_NE(port_, nullptr);
        file_ = Open();
        ASSERT_NE(file_, win32::INVALID_HANDLE_VALUE);
    }

    // An IRP_MJ_INTERNAL_DEVICE_CONTROL request from kernel mode, waited for.
    Result Internal(ULONG code, void* in, ULONG inLength, void* out, ULONG outLength) {
        KEVENT done;
        KeInitializeEvent(&done, NotificationEvent, FALSE);
        IO_STATUS_BLOCK status{};
        PIRP irp = IoBuildDeviceIoControlRequest(code, port_->DeviceObject(), in, inLength, out,
                                                 outLength, TRUE, &done, &status);
        EXPECT_NE(irp, nullptr);
        if (irp == nullptr) return {STATUS_INSUFFICIENT_RESOURCES, 0, {}};
        if (IoCallDriver(port_->DeviceObject(), irp) == STATUS_PENDING) {
            (void)KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
        }
        return {status.Status, static_cast<ULONG>(status.Information), {}};
    }

    TestPort* port_ = nullptr;
    HANDLE file_ = nullptr;
};

TEST_F(SerialTest, ConstructionDefaults) {
    TestPort* port = CreatePort();
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->baudRate, 1200U);
    EXPECT_EQ(port->lineControl, 0x1A);  // 7 data bits, even parity, 1 stop bit
    EXPECT_EQ(port->dataMask, 0x7F);
    EXPECT_EQ(port->handFlow.ControlHandShake, SERIAL_DTR_CONTROL);
    EXPECT_EQ(port->handFlow.FlowReplace, SERIAL_RTS_CONTROL);
    EXPECT_EQ(port->specialChars.XonChar, 0x11);
    EXPECT_EQ(port->specialChars.XoffChar, 0x13);
    EXPECT_EQ(port->modemControl, 0x0B);
    EXPECT_EQ(port->openCount, 0);
}

TEST_F(ControlCodeTest, SettingsRoundTrip) {
    const SERIAL_BAUD_RATE rate{123457};
    EXPECT_EQ(Set(file_, IOCTL_SERIAL_SET_BAUD_RATE, rate).status, STATUS_SUCCESS);
    EXPECT_EQ(Get<SERIAL_BAUD_RATE>(file_, IOCTL_SERIAL_GET_BAUD_RATE).BaudRate, 123457U);
    EXPECT_EQ(port_->Changes().back(), (HardwareChange{HardwareChange::Kind::BaudRate, 123457}));

    const SERIAL_TIMEOUTS timeouts{MAXULONG, MAXULONG, 1, 2, 3};
    EXPECT_EQ(Set(file_, IOCTL_SERIAL_SET_TIMEOUTS, timeouts).status, STATUS_SUCCESS);
    const auto readBack = Get<SERIAL_TIMEOUTS>(file_, IOCTL_SERIAL_GET_TIMEOUTS);
    EXPECT_EQ(std::memcmp(&readBack, &timeouts, sizeof timeouts), 0);
    const SERIAL_TIMEOUTS refused{MAXULONG, MAXULONG, MAXULONG, 0, 0};
    EXPECT_EQ(Set(file_, IOCTL_SERIAL_SET_TIMEOUTS, refused).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Get<SERIAL_TIMEOUTS>(file_, IOCTL_SERIAL_GET_TIMEOUTS).ReadTotalTimeoutConstant, 1U);

    const SERIAL_CHARS chars{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(Set(file_, IOCTL_SERIAL_SET_CHARS, chars).status, STATUS_SUCCESS);
    EXPECT_EQ(Get<SERIAL_CHARS>(file_, IOCTL_SERIAL_GET_CHARS).EventChar, 4);

    EXPECT_EQ(Get<ULONG>(file_, IOCTL_SERIAL_CONFIG_SIZE), 0U);
    EXPECT_EQ(Control(file_, IOCTL_SERIAL_RESET_DEVICE).status, STATUS_SUCCESS);
}

// Every valid line control reads back as it was set; the invalid ones change nothing.
TEST_F(ControlCodeTest, LineControl) {
    for (UCHAR wordLength = 5; wordLength <= 8; ++wordLength) {
        for (UCHAR parity = NO_PARITY; parity <= SPACE_PARITY; ++parity) {
            for (UCHAR stopBits = STOP_BIT_1; stopBits <= STOP_BITS_2; ++stopBits) {
                const SERIAL_LINE_CONTROL value{stopBits, parity, wordLength};
                const bool valid = stopBits != STOP_BITS_1_5 || wordLength == 5;
                const SERIAL_LINE_CONTROL before =
                    Get<SERIAL_LINE_CONTROL>(file_, IOCTL_SERIAL_GET_LINE_CONTROL);
                EXPECT_EQ(Set(file_, IOCTL_SERIAL_SET_LINE_CONTROL, value).status,
                          valid ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER);
                const auto after = Get<SERIAL_LINE_CONTROL>(file_, IOCTL_SERIAL_GET_LINE_CONTROL);
                SERIAL_LINE_CONTROL expected = valid ? value : before;
                // With 5 data bits "more than one stop bit" reads back as 1.5.
                if (valid && wordLength == 5 && stopBits == STOP_BITS_2) {
                    expected.StopBits = STOP_BITS_1_5;
                }
                EXPECT_EQ(after.WordLength, expected.WordLength);
                EXPECT_EQ(after.Parity, expected.Parity);
                EXPECT_EQ(after.StopBits, expected.StopBits);
            }
        }
    }
    const UCHAR lineControl = port_->lineControl;
    for (const SERIAL_LINE_CONTROL value :
         {SERIAL_LINE_CONTROL{0, 0, 9}, SERIAL_LINE_CONTROL{0, 0, 4}, SERIAL_LINE_CONTROL{0, 5, 8},
          SERIAL_LINE_CONTROL{3, 0, 8}}) {
        EXPECT_EQ(Set(file_, IOCTL_SERIAL_SET_LINE_CONTROL, value).status,
                  STATUS_INVALID_PARAMETER);
    }
    EXPECT_EQ(port_->lineControl, lineControl);
    // The receive mask follows the data bits.
    EXPECT_EQ(Set(file_, IOCTL_SERIAL_SET_LINE_CONTROL, SERIAL_LINE_CONTROL{0, 0, 6}).status,
              STATUS_SUCCESS);
    EXPECT_EQ(port_->dataMask, 0x3F);
}

// A buffer one byte short fails with STATUS_BUFFER_TOO_SMALL and Information 0.
TEST_F(ControlCodeTest, ShortBuffers) {
    struct Case {
        ULONG code;
        ULONG in;
        ULONG out;
    };
    const Case cases[] = {
        {IOCTL_SERIAL_SET_BAUD_RATE, 4, 0},     {IOCTL_SERIAL_SET_QUEUE_SIZE, 8, 0},
        {IOCTL_SERIAL_SET_LINE_CONTROL, 3, 0},  {IOCTL_SERIAL_IMMEDIATE_CHAR, 1, 0},
        {IOCTL_SERIAL_SET_TIMEOUTS, 20, 0},     {IOCTL_SERIAL_GET_TIMEOUTS, 0, 20},
        {IOCTL_SERIAL_GET_WAIT_MASK, 0, 4},     {IOCTL_SERIAL_SET_WAIT_MASK, 4, 0},
        {IOCTL_SERIAL_WAIT_ON_MASK, 0, 4},      {IOCTL_SERIAL_PURGE, 4, 0},
        {IOCTL_SERIAL_GET_BAUD_RATE, 0, 4},     {IOCTL_SERIAL_GET_LINE_CONTROL, 0, 3},
        {IOCTL_SERIAL_GET_CHARS, 0, 6},         {IOCTL_SERIAL_SET_CHARS, 6, 0},
        {IOCTL_SERIAL_GET_HANDFLOW, 0, 16},     {IOCTL_SERIAL_SET_HANDFLOW, 16, 0},
        {IOCTL_SERIAL_GET_MODEMSTATUS, 0, 4},   {IOCTL_SERIAL_GET_COMMSTATUS, 0, 20},
        {IOCTL_SERIAL_XOFF_COUNTER, 12, 0},     {IOCTL_SERIAL_GET_PROPERTIES, 0, 64},
        {IOCTL_SERIAL_GET_DTRRTS, 0, 4},        {IOCTL_SERIAL_LSRMST_INSERT, 1, 0},
        {IOCTL_SERIAL_CONFIG_SIZE, 0, 4},       {IOCTL_SERIAL_GET_STATS, 0, 24},
        {IOCTL_SERIAL_GET_MODEM_CONTROL, 0, 4}, {IOCTL_SERIAL_SET_MODEM_CONTROL, 4, 0},
        {IOCTL_SERIAL_SET_FIFO_CONTROL, 4, 0},
    };
    const std::string zeros(64, '\0');
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << "function " << FunctionNumber(c.code));
        const ULONG in = c.in > 0 ? c.in - 1 : 0;
        const ULONG out = c.out > 0 ? c.out - 1 : 0;
        const Result result = Control(file_, c.code, in > 0 ? zeros.data() : nullptr, in, out);
        EXPECT_EQ(result.status, STATUS_BUFFER_TOO_SMALL);
        EXPECT_EQ(result.information, 0U);
    }
}

TEST_F(ControlCodeTest, ChecksAgainstTheFlowControl) {
    SERIAL_HANDFLOW flow{SERIAL_DTR_HANDSHAKE, SERIAL_RTS_CONTROL, 10, 10};
    ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_HANDFLOW, flow).status, STATUS_SUCCESS);
    EXPECT_EQ(Control(file_, IOCTL_SERIAL_SET_DTR).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Control(file_, IOCTL_SERIAL_CLR_DTR).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Control(file_, IOCTL_SERIAL_SET_RTS).status, STATUS_SUCCESS);
    for (ULONG rts : {SERIAL_RTS_HANDSHAKE, SERIAL_TRANSMIT_TOGGLE}) {
        flow = {SERIAL_DTR_CONTROL, rts, 10, 10};
        ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_HANDFLOW, flow).status, STATUS_SUCCESS);
        EXPECT_EQ(Control(file_, IOCTL_SERIAL_SET_RTS).status, STATUS_INVALID_PARAMETER);
        EXPECT_EQ(Control(file_, IOCTL_SERIAL_CLR_RTS).status, STATUS_INVALID_PARAMETER);
    }

    // Invalid flow-control bits, DTR mask 3, and the error character with an escape.
    for (const SERIAL_HANDFLOW value :
         {SERIAL_HANDFLOW{0x04, 0, 0, 0}, SERIAL_HANDFLOW{0x03, 0, 0, 0},
          SERIAL_HANDFLOW{0, 0x20, 0, 0}, SERIAL_HANDFLOW{0x100, 0, 0, 0}}) {
        EXPECT_EQ(Set(file_, IOCTL_SERIAL_SET_HANDFLOW, value).status, STATUS_INVALID_PARAMETER);
    }
    flow = {SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL, 10, 10};
    ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_HANDFLOW, flow).status, STATUS_SUCCESS);
    EXPECT_EQ(Set(file_, IOCTL_SERIAL_LSRMST_INSERT, UCHAR{0x11}).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Set(file_, IOCTL_SERIAL_LSRMST_INSERT, UCHAR{0xFF}).status, STATUS_SUCCESS);
    EXPECT_EQ(port_->escapeChar, 0xFF);
    flow.FlowReplace |= SERIAL_ERROR_CHAR;
    EXPECT_EQ(Set(file_, IOCTL_SERIAL_SET_HANDFLOW, flow).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Set(file_, IOCTL_SERIAL_SET_CHARS, SERIAL_CHARS{0, 0, 0, 0, 0xFF, 0x13}).status,
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Set(file_, IOCTL_SERIAL_LSRMST_INSERT, UCHAR{0}).status, STATUS_SUCCESS);
}

TEST_F(ControlCodeTest, ModemControlLines) {
    EXPECT_EQ(Control(file_, IOCTL_SERIAL_SET_DTR).status, STATUS_SUCCESS);
    EXPECT_EQ(Control(file_, IOCTL_SERIAL_CLR_RTS).status, STATUS_SUCCESS);
    EXPECT_EQ(Get<ULONG>(file_, IOCTL_SERIAL_GET_DTRRTS), SERIAL_DTR_STATE);
    EXPECT_EQ(Set(file_, IOCTL_SERIAL_SET_MODEM_CONTROL, ULONG{0x12}).status, STATUS_SUCCESS);
    EXPECT_EQ(Get<ULONG>(file_, IOCTL_SERIAL_GET_DTRRTS), SERIAL_RTS_STATE);
    // Bit 3 of the construction value stays; GET_MODEM_CONTROL reports bits 0, 1 and 4.
    EXPECT_EQ(port_->modemControl & 0x08, 0x08);
    EXPECT_EQ(Get<ULONG>(file_, IOCTL_SERIAL_GET_MODEM_CONTROL), 0x02U);
    port_->Locked([&] { port_->modemStatus = 0xB0; });
    EXPECT_EQ(Get<ULONG>(file_, IOCTL_SERIAL_GET_MODEMSTATUS), 0xB0U);
    EXPECT_EQ(Set(file_, IOCTL_SERIAL_SET_FIFO_CONTROL, ULONG{0xC1}).status, STATUS_SUCCESS);
    EXPECT_EQ(port_->Changes().back(), (HardwareChange{HardwareChange::Kind::FifoControl, 0xC1}));
}

TEST_F(ControlCodeTest, Properties) {
    std::string buffer(64, '\0');
    const USHORT tooLong = 100;
    std::memcpy(buffer.data(), &tooLong, sizeof tooLong);
    EXPECT_EQ(Control(file_, IOCTL_SERIAL_GET_PROPERTIES, buffer.data(), 64, 64).status,
              STATUS_INVALID_PARAMETER);

    // The caller's PacketLength comes in the input half of the buffer.
    const std::string zeros(80, '\0');
    const Result result = Control(file_, IOCTL_SERIAL_GET_PROPERTIES, zeros.data(), 80, 80);
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    EXPECT_EQ(result.information, 64U);
    SERIAL_COMMPROP properties{};
    std::memcpy(&properties, result.output.data(), 64);
    EXPECT_EQ(properties.PacketLength, 64);
    EXPECT_EQ(properties.PacketVersion, 2);
    EXPECT_EQ(properties.ServiceMask, SERIAL_SP_SERIALCOMM);
    EXPECT_EQ(properties.MaxBaud, SERIAL_BAUD_USER);
    EXPECT_EQ(properties.ProvSubType, SERIAL_SP_RS232);
    EXPECT_EQ(properties.ProvCapabilities, 0xFFU);
    EXPECT_EQ(properties.SettableParams, 0x7FU);
    EXPECT_EQ(properties.SettableBaud, 0x1007FFFFU);
    EXPECT_EQ(properties.SettableData, 0x000F);
    EXPECT_EQ(properties.SettableStopParity, 0x1F07);
    EXPECT_EQ(properties.CurrentRxQueue, port_->rxBufferSize);
}

TEST_F(SerialTest, SettableBaudsFollowTheRatesThePortAccepts) {
    TestPort::nextOptions.refusedRates = {110, 57600};
    TestPort* port = CreatePort();
    ASSERT_NE(port, nullptr);
    HANDLE file = Open();
    const std::string zeros(64, '\0');
    const Result result = Control(file, IOCTL_SERIAL_GET_PROPERTIES, zeros.data(), 64, 64);
    ASSERT_EQ(result.status, STATUS_SUCCESS);
    SERIAL_COMMPROP properties{};
    std::memcpy(&properties, result.output.data(), 64);
    EXPECT_EQ(properties.SettableBaud, 0x1007FFFFU & ~(SERIAL_BAUD_110 | SERIAL_BAUD_57600));
    // A refused rate fails with the port's status and leaves the rate as it was.
    const ULONG before = Get<SERIAL_BAUD_RATE>(file, IOCTL_SERIAL_GET_BAUD_RATE).BaudRate;
    EXPECT_EQ(Set(file, IOCTL_SERIAL_SET_BAUD_RATE, SERIAL_BAUD_RATE{110}).status,
              STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Get<SERIAL_BAUD_RATE>(file, IOCTL_SERIAL_GET_BAUD_RATE).BaudRate, before);
}

TEST_F(ControlCodeTest, StatusAndStatistics) {
    port_->Locked([&] {
        port_->errorFlags = SERIAL_ERROR_FRAMING | SERIAL_ERROR_PARITY;
        port_->txHoldReasons = kTxHoldCts | kTxHoldBreak;
        port_->rxHoldReasons = kRxHoldDsr | kRxHoldXoffSent;
        port_->perfStats.ReceivedCount = 7;
    });
    auto status = Get<SERIAL_STATUS>(file_, IOCTL_SERIAL_GET_COMMSTATUS);
    EXPECT_EQ(status.Errors, SERIAL_ERROR_FRAMING | SERIAL_ERROR_PARITY);
    EXPECT_EQ(status.HoldReasons, SERIAL_TX_WAITING_FOR_CTS | SERIAL_TX_WAITING_ON_BREAK |
                                      SERIAL_RX_WAITING_FOR_DSR | SERIAL_TX_WAITING_XOFF_SENT);
    EXPECT_FALSE(status.EofReceived);
    status = Get<SERIAL_STATUS>(file_, IOCTL_SERIAL_GET_COMMSTATUS);
    EXPECT_EQ(status.Errors, 0U);  // reported once

    const Result stats = Control(file_, IOCTL_SERIAL_GET_STATS, nullptr, 0, 24);
    EXPECT_EQ(stats.status, STATUS_SUCCESS);
    EXPECT_EQ(stats.information, 24U);
    EXPECT_EQ(Get<SERIALPERF_STATS>(file_, IOCTL_SERIAL_GET_STATS).ReceivedCount, 7U);
    EXPECT_EQ(Control(file_, IOCTL_SERIAL_CLEAR_STATS).status, STATUS_SUCCESS);
    EXPECT_EQ(Get<SERIALPERF_STATS>(file_, IOCTL_SERIAL_GET_STATS).ReceivedCount, 0U);
}

// With SERIAL_ERROR_ABORT and a recorded error every request but GET_COMMSTATUS
// is cancelled, queued ones too, until GET_COMMSTATUS reads the errors.
TEST_F(ControlCodeTest, ErrorAbort) {
    const SERIAL_HANDFLOW flow{SERIAL_DTR_CONTROL | SERIAL_ERROR_ABORT, SERIAL_RTS_CONTROL, 10, 10};
    ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_HANDFLOW, flow).status, STATUS_SUCCESS);
    port_->Locked([&] { port_->errorFlags = SERIAL_ERROR_FRAMING; });
    EXPECT_EQ(Control(file_, IOCTL_SERIAL_GET_BAUD_RATE, nullptr, 0, 4).status, STATUS_CANCELLED);
    EXPECT_EQ(Control(file_, IOCTL_SERIAL_SET_DTR).status, STATUS_CANCELLED);
    EXPECT_EQ(Control(file_, IOCTL_SERIAL_GET_COMMSTATUS, nullptr, 0, 20).status, STATUS_SUCCESS);
    EXPECT_EQ(Control(file_, IOCTL_SERIAL_GET_BAUD_RATE, nullptr, 0, 4).status, STATUS_SUCCESS);
}

TEST_F(ControlCodeTest, UnknownCodes) {
    for (const ULONG code : {ULONG{0x1B00A0}, SerialCode(0x800), SerialCode(0),
                             CTL_CODE(FILE_DEVICE_UNKNOWN, 1, METHOD_BUFFERED, FILE_ANY_ACCESS),
                             IOCTL_SERIAL_GET_COMMCONFIG, IOCTL_SERIAL_SET_COMMCONFIG}) {
        SCOPED_TRACE(::testing::Message() << std::hex << code);
        EXPECT_EQ(Control(file_, code).status, STATUS_INVALID_PARAMETER);
    }
}

// Control codes arriving above the port's inline IRQL are processed in a work item.
TEST_F(ControlCodeTest, CodesArrivingAtDispatchLevel) {
    SERIAL_BAUD_RATE rate{};
    KEVENT done;
    KeInitializeEvent(&done, NotificationEvent, FALSE);
    IO_STATUS_BLOCK status{};
    PIRP irp = IoBuildDeviceIoControlRequest(IOCTL_SERIAL_GET_BAUD_RATE, port_->DeviceObject(),
                                             nullptr, 0, &rate, sizeof rate, FALSE, &done, &status);
    ASSERT_NE(irp, nullptr);
    KIRQL irql;
    KeRaiseIrql(DISPATCH_LEVEL, &irql);
    const NTSTATUS returned = IoCallDriver(port_->DeviceObject(), irp);
    KeLowerIrql(irql);
    EXPECT_EQ(returned, STATUS_PENDING);
    (void)KeWaitForSingleObject(&done, Executive, KernelMode, FALSE, nullptr);
    EXPECT_EQ(status.Status, STATUS_SUCCESS);
    EXPECT_EQ(status.Information, 4U);
    EXPECT_EQ(rate.BaudRate, port_->baudRate);
}

TEST_F(ControlCodeTest, InternalSettings) {
    const SERIAL_TIMEOUTS timeouts{1, 2, 3, 4, 5};
    ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_TIMEOUTS, timeouts).status, STATUS_SUCCESS);
    const SERIAL_HANDFLOW flow{SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL, 7, 9};
    ASSERT_EQ(Set(file_, IOCTL_SERIAL_SET_HANDFLOW, flow).status, STATUS_SUCCESS);

    SERIAL_BASIC_SETTINGS saved{};
    EXPECT_EQ(Internal(IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS, nullptr, 0, &saved, 43).status,
              STATUS_BUFFER_TOO_SMALL);
    const Result basic = Internal(IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS, nullptr, 0, &saved, 44);
    EXPECT_EQ(basic.status, STATUS_SUCCESS);
    EXPECT_EQ(basic.information, 44U);
    EXPECT_EQ(saved.Timeouts.WriteTotalTimeoutConstant, 5U);
    EXPECT_EQ(saved.HandFlow.XoffLimit, 9);
    // The basic settings are in force now.
    EXPECT_EQ(Get<SERIAL_TIMEOUTS>(file_, IOCTL_SERIAL_GET_TIMEOUTS).ReadIntervalTimeout, 0U);
    EXPECT_EQ(Get<SERIAL_HANDFLOW>(file_, IOCTL_SERIAL_GET_HANDFLOW).ControlHandShake, 0U);
    EXPECT_EQ(port_->Changes().back(), (HardwareChange{HardwareChange::Kind::FifoControl, 0}));

    EXPECT_EQ(Internal(IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS, &saved, 43, nullptr, 0).status,
              STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(Internal(IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS, &saved, 44, nullptr, 0).status,
              STATUS_SUCCESS);
    EXPECT_EQ(Get<SERIAL_TIMEOUTS>(file_, IOCTL_SERIAL_GET_TIMEOUTS).ReadIntervalTimeout, 1U);
    EXPECT_EQ(Get<SERIAL_HANDFLOW>(file_, IOCTL_SERIAL_GET_HANDFLOW).XonLimit, 7);

    EXPECT_EQ(Internal(IOCTL_SERIAL_INTERNAL_DO_WAIT_WAKE, nullptr, 0, nullptr, 0).status,
              STATUS_SUCCESS);
    EXPECT_TRUE(port_->WakeEnabled());
    EXPECT_EQ(Internal(IOCTL_SERIAL_INTERNAL_CANCEL_WAIT_WAKE, nullptr, 0, nullptr, 0).status,
              STATUS_SUCCESS);
    EXPECT_FALSE(port_->WakeEnabled());
    EXPECT_EQ(Internal(SerialCode(20), nullptr, 0, nullptr, 0).status, STATUS_INVALID_PARAMETER);
    EXPECT_EQ(Internal(SerialCode(0x801), nullptr, 0, nullptr, 0).status, STATUS_INVALID_PARAMETER);
}

// A queued control code fails with the PowerUp status before it is queued.
TEST_F(SerialTest, PowerUpFailureEndsQueuedCodes) {
    TestPort::nextOptions.powerUpStatus = STATUS_DEVICE_POWERED_OFF;
    TestPort* port = CreatePort();
    ASSERT_NE(port, nullptr);
    HANDLE file = Open();
    EXPECT_EQ(Control(file, IOCTL_SERIAL_SET_DTR).status, STATUS_DEVICE_POWERED_OFF);
    EXPECT_EQ(Control(file, IOCTL_SERIAL_GET_BAUD_RATE, nullptr, 0, 4).status, STATUS_SUCCESS);
}

}  // namespace
}  // namespace serial::testing
