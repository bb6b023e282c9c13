// The transmit source: the bytes the hardware side takes, straight from the
// pending flow-control or immediate character or from the current write.
#include <cstring>

#include "serial/serial_port.h"

namespace serial {

ULONG SerialPort::TakeTransmitBytes(UCHAR* destination, ULONG maximum, bool* immediate) {
    if (immediate != nullptr) *immediate = false;
    if (maximum == 0 || destination == nullptr) return 0;
    // CTS, DSR, DCD or break holding stops everything, flow-control characters too.
    if ((txHoldReasons & ~kTxHoldXoffReceived) != 0) return 0;

    ULONG produced = 0;
    if (sendXon) {
        destination[0] = specialChars.XonChar;
        txHoldReasons = static_cast<UCHAR>(txHoldReasons & ~kTxHoldXoffReceived);
        sendXon = false;
        produced = 1;
    } else if (sendXoff && txHoldReasons == 0) {
        destination[0] = specialChars.XoffChar;
        sendXoff = false;
        if ((activeFlowReplace & SERIAL_XOFF_CONTINUE) == 0) {
            txHoldReasons = static_cast<UCHAR>(txHoldReasons | kTxHoldXoffReceived);
        }
        produced = 1;
    } else if (immediateCharPending) {
        destination[0] = immediateChar;
        immediateCharPending = false;
        PostEvent({PortEvent::kImmediateCharEnds, STATUS_SUCCESS, 1});
        if (immediate != nullptr) *immediate = true;
        produced = 1;
    } else if (txHoldReasons == 0 && currentWrite != nullptr && writeTaken < writeLength) {
        const ULONG left = writeLength - writeTaken;
        produced = left < maximum ? left : maximum;
        std::memcpy(destination, writeBuffer + writeTaken, produced);
        if (writeIsXoffCounter) {
            // The counter's character is out: it now waits for received characters.
            xoffCharPending = false;
            writeTaken = writeLength;
            PostEvent({PortEvent::kStartXoffCounterTimer, STATUS_SUCCESS, 0});
        } else {
            writeTaken += produced;
            if (writeTaken == writeLength) {
                PostEvent({PortEvent::kWriteEnds, STATUS_SUCCESS, writeTaken});
            }
        }
    }

    if (produced == 0) {
        if ((activeWaitMask & EV_TXEMPTY) != 0 && charsWereSent) {
            eventHistory |= EV_TXEMPTY;
            CheckWait();
        }
        charsWereSent = false;
    } else {
        charsWereSent = true;
    }
    if ((activeFlowReplace & SERIAL_RTS_MASK) == SERIAL_TRANSMIT_TOGGLE) {
        if (produced != 0) {
            (void)SetRts();
        } else {
            DrainStep(kDrainTransmitToggle);
        }
    }
    perfStats.TransmittedCount += produced;
    return produced;
}

ULONG SerialPort::BytesToTransmit() const {
    if ((txHoldReasons & ~kTxHoldXoffReceived) != 0) return 0;
    if (sendXon || (sendXoff && txHoldReasons == 0) || immediateCharPending) return 1;
    if (txHoldReasons != 0 || currentWrite == nullptr) return 0;
    return writeTaken < writeLength ? writeLength - writeTaken : 0;
}

bool SerialPort::SetBreakOn() {
    txHoldReasons = static_cast<UCHAR>(txHoldReasons | kTxHoldBreak);
    return true;
}

bool SerialPort::SetBreakOff() {
    txHoldReasons = static_cast<UCHAR>(txHoldReasons & ~kTxHoldBreak);
    StartTransmit();
    return true;
}

}  // namespace serial
