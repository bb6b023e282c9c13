// Processing of the serial control codes against the port's state.
#include "serial/serial_port.h"

namespace serial {

namespace {

// The buffer each control code needs, by function number.
struct BufferNeeds {
    ULONG in;
    ULONG out;
};

constexpr BufferNeeds kNeeds[40] = {
    {0, 0},                            //  0 (none)
    {sizeof(SERIAL_BAUD_RATE), 0},     //  1 SET_BAUD_RATE
    {sizeof(SERIAL_QUEUE_SIZE), 0},    //  2 SET_QUEUE_SIZE
    {sizeof(SERIAL_LINE_CONTROL), 0},  //  3 SET_LINE_CONTROL
    {0, 0},                            //  4 SET_BREAK_ON
    {0, 0},                            //  5 SET_BREAK_OFF
    {1, 0},                            //  6 IMMEDIATE_CHAR
    {sizeof(SERIAL_TIMEOUTS), 0},      //  7 SET_TIMEOUTS
    {0, sizeof(SERIAL_TIMEOUTS)},      //  8 GET_TIMEOUTS
    {0, 0},                            //  9 SET_DTR
    {0, 0},                            // 10 CLR_DTR
    {0, 0},                            // 11 RESET_DEVICE
    {0, 0},                            // 12 SET_RTS
    {0, 0},                            // 13 CLR_RTS
    {0, 0},                            // 14 SET_XOFF
    {0, 0},                            // 15 SET_XON
    {0, sizeof(ULONG)},                // 16 GET_WAIT_MASK
    {sizeof(ULONG), 0},                // 17 SET_WAIT_MASK
    {0, sizeof(ULONG)},                // 18 WAIT_ON_MASK
    {sizeof(ULONG), 0},                // 19 PURGE
    {0, sizeof(SERIAL_BAUD_RATE)},     // 20 GET_BAUD_RATE
    {0, sizeof(SERIAL_LINE_CONTROL)},  // 21 GET_LINE_CONTROL
    {0, sizeof(SERIAL_CHARS)},         // 22 GET_CHARS
    {sizeof(SERIAL_CHARS), 0},         // 23 SET_CHARS
    {0, sizeof(SERIAL_HANDFLOW)},      // 24 GET_HANDFLOW
    {sizeof(SERIAL_HANDFLOW), 0},      // 25 SET_HANDFLOW
    {0, sizeof(ULONG)},                // 26 GET_MODEMSTATUS
    {0, sizeof(SERIAL_STATUS)},        // 27 GET_COMMSTATUS
    {sizeof(SERIAL_XOFF_COUNTER), 0},  // 28 XOFF_COUNTER
    {0, 64},                           // 29 GET_PROPERTIES
    {0, sizeof(ULONG)},                // 30 GET_DTRRTS
    {1, 0},                            // 31 LSRMST_INSERT
    {0, sizeof(ULONG)},                // 32 CONFIG_SIZE
    {0, 0},                            // 33 GET_COMMCONFIG
    {0, 0},                            // 34 SET_COMMCONFIG
    {0, sizeof(SERIALPERF_STATS)},     // 35 GET_STATS
    {0, 0},                            // 36 CLEAR_STATS
    {0, sizeof(ULONG)},                // 37 GET_MODEM_CONTROL
    {sizeof(ULONG), 0},                // 38 SET_MODEM_CONTROL
    {sizeof(ULONG), 0},                // 39 SET_FIFO_CONTROL
};

constexpr UCHAR kParityCodes[] = {0x00, 0x08, 0x18, 0x28, 0x38};  // none, odd, even, mark, space
constexpr UCHAR kStopFlag = 0x04;

[[nodiscard]] bool IsSerialCode(ULONG code) {
    return code == CTL_CODE(FILE_DEVICE_SERIAL_PORT, FunctionNumber(code), METHOD_BUFFERED,
                            FILE_ANY_ACCESS);
}

// SET_LINE_CONTROL: the lineControl byte, or false for a value the port refuses.
[[nodiscard]] bool EncodeLineControl(const SERIAL_LINE_CONTROL& value, UCHAR* encoded) {
    if (value.WordLength < 5 || value.WordLength > 8) return false;
    if (value.Parity >= sizeof kParityCodes) return false;
    if (value.StopBits > STOP_BITS_2) return false;
    if (value.StopBits == STOP_BITS_1_5 && value.WordLength != 5) return false;
    *encoded = static_cast<UCHAR>((value.StopBits != STOP_BIT_1 ? kStopFlag : 0) |
                                  kParityCodes[value.Parity] | (value.WordLength - 5));
    return true;
}

[[nodiscard]] SERIAL_LINE_CONTROL DecodeLineControl(UCHAR lineControl) {
    SERIAL_LINE_CONTROL value{};
    value.WordLength = static_cast<UCHAR>((lineControl & 3) + 5);
    if ((lineControl & kStopFlag) != 0) {
        value.StopBits = value.WordLength == 5 ? STOP_BITS_1_5 : STOP_BITS_2;
    }
    for (UCHAR parity = 0; parity < sizeof kParityCodes; ++parity) {
        if ((lineControl & 0x38) == kParityCodes[parity]) value.Parity = parity;
    }
    return value;
}

}  // namespace

NTSTATUS SerialPort::ProcessControlCode(PIRP irp, ULONG_PTR* information) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    const ULONG code = stack->Parameters.DeviceIoControl.IoControlCode;
    const ULONG function = FunctionNumber(code);
    *information = 0;
    if (!IsSerialCode(code) || function == 0 || function >= 40) {
        return HandleOtherIoctl(irp, information);
    }
    if (stack->Parameters.DeviceIoControl.InputBufferLength < kNeeds[function].in ||
        stack->Parameters.DeviceIoControl.OutputBufferLength < kNeeds[function].out) {
        return STATUS_BUFFER_TOO_SMALL;
    }
    void* buffer = irp->AssociatedIrp.SystemBuffer;
    // A check against the port's state and the change it guards, under one hold
    // of the port lock: `body` answers false when the check fails.
    auto Checked = [this](auto&& body) {
        return WithPortLock(body) != 0 ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
    };
    auto output = [&](const auto& value) {
        *static_cast<std::remove_cvref_t<decltype(value)>*>(buffer) = value;
        *information = sizeof value;
        return STATUS_SUCCESS;
    };

    switch (code) {
        case IOCTL_SERIAL_SET_BAUD_RATE: {
            const ULONG rate = static_cast<SERIAL_BAUD_RATE*>(buffer)->BaudRate;
            ULONG converted = rate;
            const NTSTATUS status = ValidateBaudRate(rate, &converted);
            if (!NT_SUCCESS(status)) return status;
            WithPortLock([&] {
                baudRate = rate;
                return ApplyBaudRate(converted);
            });
            return STATUS_SUCCESS;
        }
        case IOCTL_SERIAL_SET_QUEUE_SIZE:
            return SetQueueSize(irp);
        case IOCTL_SERIAL_SET_LINE_CONTROL: {
            UCHAR encoded = 0;
            if (!EncodeLineControl(*static_cast<SERIAL_LINE_CONTROL*>(buffer), &encoded)) {
                return STATUS_INVALID_PARAMETER;
            }
            const bool applied = WithPortLock([&] {
                                     const UCHAR previous = lineControl;
                                     lineControl = encoded;
                                     if (ApplyLineControl(lineControl)) return true;
                                     lineControl = previous;  // a refused setting changes nothing
                                     return false;
                                 }) != 0;
            return applied ? STATUS_SUCCESS : STATUS_INVALID_PARAMETER;
        }
        case IOCTL_SERIAL_SET_BREAK_ON:
            WithPortLock([this] { return SetBreakOn(); });
            return STATUS_SUCCESS;
        case IOCTL_SERIAL_SET_BREAK_OFF:
            WithPortLock([this] { return SetBreakOff(); });
            return STATUS_SUCCESS;
        case IOCTL_SERIAL_IMMEDIATE_CHAR:
            return ImmediateCharRequest(irp);
        case IOCTL_SERIAL_SET_TIMEOUTS: {
            const auto value = *static_cast<SERIAL_TIMEOUTS*>(buffer);
            if (value.ReadIntervalTimeout == MAXULONG &&
                value.ReadTotalTimeoutMultiplier == MAXULONG &&
                value.ReadTotalTimeoutConstant == MAXULONG) {
                return STATUS_INVALID_PARAMETER;
            }
            WithPortLock([&] { return SetTimeouts(value); });
            return STATUS_SUCCESS;
        }
        case IOCTL_SERIAL_GET_TIMEOUTS:
            return output(timeouts);
        case IOCTL_SERIAL_SET_DTR:
        case IOCTL_SERIAL_CLR_DTR:
            return Checked([&] {
                if ((handFlow.ControlHandShake & SERIAL_DTR_MASK) == SERIAL_DTR_HANDSHAKE) {
                    return false;
                }
                (void)(code == IOCTL_SERIAL_SET_DTR ? SetDtr() : ClearDtr());
                return true;
            });
        case IOCTL_SERIAL_RESET_DEVICE:
            return STATUS_SUCCESS;
        case IOCTL_SERIAL_SET_RTS:
        case IOCTL_SERIAL_CLR_RTS:
            return Checked([&] {
                const ULONG rts = handFlow.FlowReplace & SERIAL_RTS_MASK;
                if (rts == SERIAL_RTS_HANDSHAKE || rts == SERIAL_TRANSMIT_TOGGLE) return false;
                (void)(code == IOCTL_SERIAL_SET_RTS ? SetRts() : ClearRts());
                return true;
            });
        case IOCTL_SERIAL_SET_XOFF:
            WithPortLock([this] { return SetXoff(); });
            return STATUS_SUCCESS;
        case IOCTL_SERIAL_SET_XON:
            WithPortLock([this] { return SetXon(); });
            return STATUS_SUCCESS;
        case IOCTL_SERIAL_GET_WAIT_MASK:
            return output(waitMask);
        case IOCTL_SERIAL_SET_WAIT_MASK:
            return SetWaitMaskRequest(irp);
        case IOCTL_SERIAL_WAIT_ON_MASK:
            return WaitOnMaskRequest(irp);
        case IOCTL_SERIAL_PURGE:
            return PurgeRequest(irp);
        case IOCTL_SERIAL_GET_BAUD_RATE:
            return output(SERIAL_BAUD_RATE{baudRate});
        case IOCTL_SERIAL_GET_LINE_CONTROL:
            return output(DecodeLineControl(lineControl));
        case IOCTL_SERIAL_GET_CHARS:
            return output(specialChars);
        case IOCTL_SERIAL_SET_CHARS: {
            const auto value = *static_cast<SERIAL_CHARS*>(buffer);
            return Checked([&] {
                if (escapeChar != 0 &&
                    (escapeChar == value.XonChar || escapeChar == value.XoffChar)) {
                    return false;
                }
                (void)SetChars(value);
                return true;
            });
        }
        case IOCTL_SERIAL_GET_HANDFLOW:
            return output(handFlow);
        case IOCTL_SERIAL_SET_HANDFLOW: {
            const auto value = *static_cast<SERIAL_HANDFLOW*>(buffer);
            if ((value.ControlHandShake & SERIAL_CONTROL_INVALID) != 0 ||
                (value.FlowReplace & SERIAL_FLOW_INVALID) != 0 ||
                (value.ControlHandShake & SERIAL_DTR_MASK) == SERIAL_DTR_MASK) {
                return STATUS_INVALID_PARAMETER;
            }
            return Checked([&] {
                if (escapeChar != 0 && (value.FlowReplace & SERIAL_ERROR_CHAR) != 0) return false;
                (void)SetHandFlow(value);
                return true;
            });
        }
        case IOCTL_SERIAL_GET_MODEMSTATUS: {
            ULONG status = 0;
            WithPortLock([&] { return GetModemStatus(&status); });
            return output(status);
        }
        case IOCTL_SERIAL_GET_COMMSTATUS: {
            SERIAL_STATUS status{};
            WithPortLock([&] { return GetCommStatus(&status); });
            return output(status);
        }
        case IOCTL_SERIAL_GET_PROPERTIES: {
            const ULONG outLength = stack->Parameters.DeviceIoControl.OutputBufferLength;
            auto* properties = static_cast<SERIAL_COMMPROP*>(buffer);
            if (properties->PacketLength > outLength) return STATUS_INVALID_PARAMETER;
            (void)GetProperties(properties);
            *information =
                properties->PacketLength < outLength ? properties->PacketLength : outLength;
            return STATUS_SUCCESS;
        }
        case IOCTL_SERIAL_GET_DTRRTS: {
            ULONG state = 0;
            WithPortLock([&] { state = modemControl & (SERIAL_DTR_STATE | SERIAL_RTS_STATE); });
            return output(state);
        }
        case IOCTL_SERIAL_LSRMST_INSERT: {
            const UCHAR character = *static_cast<UCHAR*>(buffer);
            return Checked([&] {
                if (character != 0 &&
                    (character == specialChars.XonChar || character == specialChars.XoffChar ||
                     (handFlow.FlowReplace & SERIAL_ERROR_CHAR) != 0)) {
                    return false;
                }
                (void)SetEscapeChar(character);
                return true;
            });
        }
        case IOCTL_SERIAL_CONFIG_SIZE:
            return output(ULONG{0});
        case IOCTL_SERIAL_GET_STATS: {
            SERIALPERF_STATS stats{};
            WithPortLock([&] { stats = perfStats; });
            return output(stats);
        }
        case IOCTL_SERIAL_CLEAR_STATS:
            WithPortLock([this] { perfStats = {}; });
            return STATUS_SUCCESS;
        case IOCTL_SERIAL_GET_MODEM_CONTROL:
            return output(ULONG{modemControl & 0x13U});
        case IOCTL_SERIAL_SET_MODEM_CONTROL: {
            const ULONG value = *static_cast<ULONG*>(buffer);
            WithPortLock([&] { return SetModemControl(value); });
            return STATUS_SUCCESS;
        }
        case IOCTL_SERIAL_SET_FIFO_CONTROL: {
            const ULONG value = *static_cast<ULONG*>(buffer);
            WithPortLock([&] { return SetFifoControl(value); });
            return STATUS_SUCCESS;
        }
        case IOCTL_SERIAL_GET_COMMCONFIG:
        case IOCTL_SERIAL_SET_COMMCONFIG:
        default:
            // XOFF_COUNTER starts in the request starter; nothing else is left.
            return STATUS_INVALID_PARAMETER;
    }
}

NTSTATUS SerialPort::ProcessInternalSettings(PIRP irp, ULONG_PTR* information) {
    PIO_STACK_LOCATION stack = IoGetCurrentIrpStackLocation(irp);
    auto* settings = static_cast<SERIAL_BASIC_SETTINGS*>(irp->AssociatedIrp.SystemBuffer);
    *information = 0;
    switch (stack->Parameters.DeviceIoControl.IoControlCode) {
        case IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS: {
            if (stack->Parameters.DeviceIoControl.OutputBufferLength < sizeof *settings) {
                return STATUS_BUFFER_TOO_SMALL;
            }
            settings->Timeouts = timeouts;
            settings->HandFlow = handFlow;
            settings->RxFifo = rxFifoTrigger;
            *information = sizeof *settings;
            WithPortLock([this] { return SetTimeouts(SERIAL_TIMEOUTS{}); });
            WithPortLock([this] { return SetHandFlow(SERIAL_HANDFLOW{}); });
            WithPortLock([this] { return SetFifoControl(0); });
            return STATUS_SUCCESS;
        }
        case IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS: {
            if (stack->Parameters.DeviceIoControl.InputBufferLength < sizeof *settings) {
                return STATUS_BUFFER_TOO_SMALL;
            }
            const SERIAL_BASIC_SETTINGS value = *settings;
            WithPortLock([&] { return SetTimeouts(value.Timeouts); });
            WithPortLock([&] { return SetHandFlow(value.HandFlow); });
            WithPortLock([&] { return SetFifoControl(value.RxFifo); });
            return STATUS_SUCCESS;
        }
        default:
            return STATUS_INVALID_PARAMETER;
    }
}

}  // namespace serial
