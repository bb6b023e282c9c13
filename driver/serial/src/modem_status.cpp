// Modem-status changes and line-status reports: the handshake holds they
// drive, the events they raise, the error counts and the inserted status
// sequences.
#include "serial/serial_port.h"

namespace serial {

namespace {

// modemStatus bits.
constexpr UCHAR kDeltaCts = 0x01;
constexpr UCHAR kDeltaDsr = 0x02;
constexpr UCHAR kTrailingEdgeRing = 0x04;
constexpr UCHAR kDeltaDcd = 0x08;
constexpr UCHAR kDeltaBits = 0x0F;
constexpr UCHAR kLineCts = 0x10;
constexpr UCHAR kLineDsr = 0x20;
constexpr UCHAR kLineDcd = 0x80;

// A handshake that holds transmission while its input line is off.
struct TransmitHandshake {
    ULONG handshake;
    UCHAR line;
    UCHAR holdBit;
};
constexpr TransmitHandshake kTransmitHandshakes[] = {
    {SERIAL_CTS_HANDSHAKE, kLineCts, kTxHoldCts},
    {SERIAL_DSR_HANDSHAKE, kLineDsr, kTxHoldDsr},
    {SERIAL_DCD_HANDSHAKE, kLineDcd, kTxHoldDcd},
};
constexpr ULONG kAnyTransmitHandshake =
    SERIAL_CTS_HANDSHAKE | SERIAL_DSR_HANDSHAKE | SERIAL_DCD_HANDSHAKE;

// The event each modem-status delta raises.
struct ModemEvent {
    UCHAR delta;
    ULONG event;
};
constexpr ModemEvent kModemEvents[] = {
    {kDeltaCts, EV_CTS},
    {kDeltaDsr, EV_DSR},
    {kTrailingEdgeRing, EV_RING},
    {kDeltaDcd, EV_RLSD},
};
constexpr ULONG kAnyModemEvent = EV_CTS | EV_DSR | EV_RLSD | EV_RING;

// Line-status bits (UART layout).
constexpr UCHAR kLineOverrun = 0x02;
constexpr UCHAR kLineParity = 0x04;
constexpr UCHAR kLineFraming = 0x08;
constexpr UCHAR kLineBreak = 0x10;

}  // namespace

void SerialPort::ApplyLineHolds(ULONG lines) {
    for (const TransmitHandshake& entry : kTransmitHandshakes) {
        if ((activeControlHandShake & entry.handshake) == 0) continue;
        if ((lines & entry.line) != 0) {
            txHoldReasons = static_cast<UCHAR>(txHoldReasons & ~entry.holdBit);
        } else {
            txHoldReasons = static_cast<UCHAR>(txHoldReasons | entry.holdBit);
        }
    }
    if ((activeControlHandShake & SERIAL_DSR_SENSITIVITY) != 0) {
        if ((lines & kLineDsr) != 0) {
            rxHoldReasons = static_cast<UCHAR>(rxHoldReasons & ~kRxHoldDsr);
        } else {
            rxHoldReasons = static_cast<UCHAR>(rxHoldReasons | kRxHoldDsr);
        }
    }
}

void SerialPort::InsertStatus(UCHAR kind, UCHAR value) {
    // A closed port has no receive stream; the bytes would only count as an
    // overrun of a buffer that does not exist.
    if (rxBuffer == nullptr) return;
    const UCHAR sequence[] = {escapeChar, kind, value};
    (void)PutReceived(sequence, sizeof sequence, true);
}

void SerialPort::ProcessModemStatus(UCHAR status) {
    ApplyLineHolds(status);
    if ((activeControlHandShake & kAnyTransmitHandshake) != 0 && txHoldReasons == 0) {
        StartTransmit();
    }
    if ((status & kDeltaBits) == 0) return;

    if ((activeWaitMask & kAnyModemEvent) != 0) {
        for (const ModemEvent& entry : kModemEvents) {
            if ((status & entry.delta) != 0) RecordEvents(entry.event);
        }
        CheckWait();
    }
    if (escapeChar != 0) InsertStatus(SERIAL_LSRMST_MST, status);
}

void SerialPort::ProcessLineStatus(UCHAR lineStatus) {
    if (escapeChar != 0) InsertStatus(SERIAL_LSRMST_LSR_NODATA, lineStatus);
    if ((activeFlowReplace & SERIAL_BREAK_CHAR) != 0 && rxBuffer != nullptr) {
        (void)PutReceived(&specialChars.BreakChar, 1, true);
    }

    if ((lineStatus & kLineOverrun) != 0) {
        ++perfStats.SerialOverrunErrorCount;
        errorFlags |= SERIAL_ERROR_OVERRUN;
    }
    if ((lineStatus & kLineBreak) != 0) {
        // A break also shows as a framing (and often parity) error; only the
        // break is counted.
        errorFlags |= SERIAL_ERROR_BREAK;
        RecordEvents(EV_BREAK);
    } else {
        if ((lineStatus & kLineParity) != 0) {
            ++perfStats.ParityErrorCount;
            errorFlags |= SERIAL_ERROR_PARITY;
        }
        if ((lineStatus & kLineFraming) != 0) {
            ++perfStats.FrameErrorCount;
            errorFlags |= SERIAL_ERROR_FRAMING;
        }
    }

    if (errorFlags != 0) {
        PostEvent(PortEvent{PortEvent::kReadEnds, STATUS_CANCELLED, 0});
        RecordEvents(EV_ERR);
        CheckWait();
    }
}

}  // namespace serial
