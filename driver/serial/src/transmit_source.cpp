// The transmit source: the bytes the hardware side sends next, taken straight
// from a flow-control character, the immediate character or the current write.
// Break holding stops it.
#include "serial/serial_port.h"

namespace serial {

namespace {

// Any hold except XOFF-received stops even the flow-control characters.
[[nodiscard]] bool HeldBeyondXoff(UCHAR txHoldReasons) {
    return (txHoldReasons & ~kTxHoldXoffReceived) != 0;
}

}  // namespace

ULONG SerialPort::TakeTransmitBytes(UCHAR* destination, ULONG maximum, bool* immediate) {
    if (immediate != nullptr) *immediate = false;
    if (maximum == 0 || destination == nullptr) return 0;
    if (HeldBeyondXoff(txHoldReasons)) return 0;

    ULONG produced = 0;
    if (sendXon) {
        destination[produced++] = specialChars.XonChar;
        txHoldReasons = static_cast<UCHAR>(txHoldReasons & ~kTxHoldXoffReceived);
        sendXon = false;
    } else if (sendXoff && txHoldReasons == 0) {
        destination[produced++] = specialChars.XoffChar;
        sendXoff = false;
        if ((activeFlowReplace & SERIAL_XOFF_CONTINUE) == 0) {
            // Nothing else goes out until an XON arrives or SET_XON is issued.
            txHoldReasons = static_cast<UCHAR>(txHoldReasons | kTxHoldXoffReceived);
        }
    } else if (immediateCharPending) {
        destination[produced++] = immediateChar;
        HandOutImmediateChar();
        if (immediate != nullptr) *immediate = true;
    } else if (txHoldReasons == 0 && currentWrite != nullptr && writeTaken < writeLength) {
        const ULONG left = writeLength - writeTaken;
        produced = left < maximum ? left : maximum;
        RtlCopyMemory(destination, writeBuffer + writeTaken, produced);
        if (writeIsXoffCounter) {
            // The counter's character is out; the request stays current until
            // enough characters arrive or its timer expires.
            xoffCharPending = false;
            writeTaken = writeLength;
            PostEvent({PortEvent::kStartXoffCounterTimer, STATUS_SUCCESS, 0});
        } else {
            writeTaken += produced;
            if (writeTaken == writeLength) PostEvent({PortEvent::kWriteEnds, STATUS_SUCCESS, 0});
        }
    }

    if (produced == 0) {
        if ((activeWaitMask & SERIAL_EV_TXEMPTY) != 0 && charsWereSent) {
            eventHistory |= SERIAL_EV_TXEMPTY;
            CheckWait();
        }
        charsWereSent = false;
    } else {
        charsWereSent = true;
    }
    if ((activeFlowReplace & SERIAL_TRANSMIT_TOGGLE) == SERIAL_TRANSMIT_TOGGLE) {
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
    if (HeldBeyondXoff(txHoldReasons)) return 0;
    if (sendXon || (sendXoff && txHoldReasons == 0) || immediateCharPending) return 1;
    if (txHoldReasons != 0 || currentWrite == nullptr || writeTaken >= writeLength) return 0;
    return writeLength - writeTaken;
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
