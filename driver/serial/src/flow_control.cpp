// Flow control: the SERIAL_HANDFLOW settings applied to DTR, RTS and XON/XOFF
// in both directions, and the receive-buffer thresholds that drive them.
#include "serial/serial_port.h"

namespace serial {

bool SerialPort::ReceiveAboveLimit() const {
    return rxCount > rxBufferSize - static_cast<ULONG>(handFlow.XoffLimit);
}

bool SerialPort::ReceiveBelowResumeLevel() const {
    return rxCount < static_cast<ULONG>(handFlow.XonLimit);
}

void SerialPort::ApplyReceiveHandshake(UCHAR holdBit, bool (SerialPort::*lower)(),
                                       bool (SerialPort::*raise)()) {
    if (ReceiveAboveLimit()) {
        rxHoldReasons = static_cast<UCHAR>(rxHoldReasons | holdBit);
        (void)(this->*lower)();
    } else if ((rxHoldReasons & holdBit) == 0 || ReceiveBelowResumeLevel()) {
        rxHoldReasons = static_cast<UCHAR>(rxHoldReasons & ~holdBit);
        (void)(this->*raise)();
    }
}

void SerialPort::ApplyHandFlow(ULONG controlHandShake, ULONG flowReplace, bool applyDtr,
                               bool applyRts) {
    activeControlHandShake = controlHandShake;
    activeFlowReplace = flowReplace;

    if (applyDtr) {
        switch (controlHandShake & SERIAL_DTR_MASK) {
            case 0:
                rxHoldReasons = static_cast<UCHAR>(rxHoldReasons & ~kRxHoldDtr);
                (void)ClearDtr();
                break;
            case SERIAL_DTR_CONTROL:
                rxHoldReasons = static_cast<UCHAR>(rxHoldReasons & ~kRxHoldDtr);
                (void)SetDtr();
                break;
            case SERIAL_DTR_HANDSHAKE:
                ApplyReceiveHandshake(kRxHoldDtr, &SerialPort::ClearDtr, &SerialPort::SetDtr);
                break;
            default:  // refused by SET_HANDFLOW
                break;
        }
    }

    if (applyRts) {
        switch (flowReplace & SERIAL_RTS_MASK) {
            case 0:
                rxHoldReasons = static_cast<UCHAR>(rxHoldReasons & ~kRxHoldRts);
                (void)ClearRts();
                break;
            case SERIAL_RTS_CONTROL:
                rxHoldReasons = static_cast<UCHAR>(rxHoldReasons & ~kRxHoldRts);
                (void)SetRts();
                break;
            case SERIAL_RTS_HANDSHAKE:
                ApplyReceiveHandshake(kRxHoldRts, &SerialPort::ClearRts, &SerialPort::SetRts);
                break;
            default:  // SERIAL_TRANSMIT_TOGGLE
                rxHoldReasons = static_cast<UCHAR>(rxHoldReasons & ~kRxHoldRts);
                if ((modemControl & kModemControlRts) != 0) {
                    DrainStep(kDrainTransmitToggle);
                } else if (TransmitterBusy() != 0) {
                    (void)SetRts();
                    DrainStep(kDrainTransmitToggle);
                }
                break;
        }
    }

    if ((flowReplace & SERIAL_AUTO_RECEIVE) != 0) {
        if ((rxHoldReasons & kRxHoldXoffSent) != 0) {
            // The XOFF already sent (or still due) is withdrawn, and nothing
            // would ever send the XON that resumes the remote sender: it is
            // resumed now. Should the buffer still be above the limit, the next
            // block received sends XOFF again.
            rxHoldReasons = static_cast<UCHAR>(rxHoldReasons & ~kRxHoldXoffSent);
            sendXoff = false;
            sendXon = true;
            StartTransmit();
        } else if (!ReceiveAboveLimit()) {
            sendXoff = false;
        } else {
            rxHoldReasons = static_cast<UCHAR>(rxHoldReasons | kRxHoldXoffSent);
            sendXoff = true;
            sendXon = false;
            StartTransmit();
        }
    } else if ((rxHoldReasons & kRxHoldXoffSent) != 0) {
        rxHoldReasons = static_cast<UCHAR>(rxHoldReasons & ~kRxHoldXoffSent);
        sendXoff = false;
        sendXon = true;
        StartTransmit();
    }

    if ((flowReplace & SERIAL_AUTO_TRANSMIT) == 0 && (txHoldReasons & kTxHoldXoffReceived) != 0) {
        txHoldReasons = static_cast<UCHAR>(txHoldReasons & ~kTxHoldXoffReceived);
        rxHoldReasons = static_cast<UCHAR>(rxHoldReasons & ~kRxHoldXoffSent);
        sendXon = true;
        sendXoff = false;
        StartTransmit();
    }

    if ((controlHandShake & SERIAL_DSR_SENSITIVITY) == 0) {
        rxHoldReasons = static_cast<UCHAR>(rxHoldReasons & ~kRxHoldDsr);
    }
    if ((controlHandShake & SERIAL_CTS_HANDSHAKE) == 0) {
        txHoldReasons = static_cast<UCHAR>(txHoldReasons & ~kTxHoldCts);
    }
    if ((controlHandShake & SERIAL_DSR_HANDSHAKE) == 0) {
        txHoldReasons = static_cast<UCHAR>(txHoldReasons & ~kTxHoldDsr);
    }
    if ((controlHandShake & SERIAL_DCD_HANDSHAKE) == 0) {
        txHoldReasons = static_cast<UCHAR>(txHoldReasons & ~kTxHoldDcd);
    }

    // A handshake switched on while its line is already off holds at once,
    // not only from the line's next change.
    ULONG lines = 0;
    (void)GetModemStatus(&lines);
    ApplyLineHolds(lines);
    if (txHoldReasons == 0) StartTransmit();
}

bool SerialPort::SetHandFlow(const SERIAL_HANDFLOW& value) {
    handFlow = value;
    ApplyHandFlow(value.ControlHandShake, value.FlowReplace, true, true);
    return true;
}

void SerialPort::OnReceiveAlmostFull() {
    if ((activeFlowReplace & SERIAL_AUTO_RECEIVE) != 0) {
        rxHoldReasons = static_cast<UCHAR>(rxHoldReasons | kRxHoldXoffSent);
        sendXoff = true;
        sendXon = false;
        StartTransmit();
    }
    if ((activeControlHandShake & SERIAL_DTR_MASK) == SERIAL_DTR_HANDSHAKE) {
        rxHoldReasons = static_cast<UCHAR>(rxHoldReasons | kRxHoldDtr);
        (void)ClearDtr();
    }
    if ((activeFlowReplace & SERIAL_RTS_MASK) == SERIAL_RTS_HANDSHAKE) {
        rxHoldReasons = static_cast<UCHAR>(rxHoldReasons | kRxHoldRts);
        (void)ClearRts();
    }
}

void SerialPort::OnReceiveDrained() {
    if (rxHoldReasons == 0 || !ReceiveBelowResumeLevel()) return;
    if ((rxHoldReasons & kRxHoldDtr) != 0) {
        rxHoldReasons = static_cast<UCHAR>(rxHoldReasons & ~kRxHoldDtr);
        (void)SetDtr();
    }
    if ((rxHoldReasons & kRxHoldRts) != 0) {
        rxHoldReasons = static_cast<UCHAR>(rxHoldReasons & ~kRxHoldRts);
        (void)SetRts();
    }
    if ((rxHoldReasons & kRxHoldXoffSent) != 0) {
        rxHoldReasons = static_cast<UCHAR>(rxHoldReasons & ~kRxHoldXoffSent);
        sendXon = true;
        sendXoff = false;
        StartTransmit();
    }
}

bool SerialPort::SetXoff() {
    txHoldReasons = static_cast<UCHAR>(txHoldReasons | kTxHoldXoffReceived);
    return true;
}

bool SerialPort::SetXon() {
    if ((txHoldReasons & kTxHoldXoffReceived) != 0) {
        txHoldReasons = static_cast<UCHAR>(txHoldReasons & ~kTxHoldXoffReceived);
        StartTransmit();
    }
    return true;
}

}  // namespace serial
