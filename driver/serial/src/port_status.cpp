// What the port reports about itself (properties, status) and purging.
#include "serial/serial_port.h"

namespace serial {

namespace {

constexpr USHORT kPropertiesLength = 64;

}  // namespace

bool SerialPort::GetProperties(SERIAL_COMMPROP* properties) {
    if (supportedBauds == 0) {
        ULONG bauds = 0;
        for (const BaudRateRow& row : BaudRateTable) {
            ULONG converted = 0;
            if (NT_SUCCESS(ValidateBaudRate(row.rate, &converted))) bauds |= row.flag;
        }
        supportedBauds = bauds | SERIAL_BAUD_USER;
    }
    RtlZeroMemory(properties, kPropertiesLength);
    properties->PacketLength = kPropertiesLength;
    properties->PacketVersion = 2;
    properties->ServiceMask = SERIAL_SP_SERIALCOMM;
    properties->MaxBaud = SERIAL_BAUD_USER;
    properties->ProvSubType = SERIAL_SP_RS232;
    properties->ProvCapabilities = SERIAL_PCF_DTRDSR | SERIAL_PCF_RTSCTS | SERIAL_PCF_CD |
                                   SERIAL_PCF_PARITY_CHECK | SERIAL_PCF_XONXOFF |
                                   SERIAL_PCF_SETXCHAR | SERIAL_PCF_TOTALTIMEOUTS |
                                   SERIAL_PCF_INTTIMEOUTS;
    properties->SettableParams = 0x7F;
    properties->SettableBaud = supportedBauds;
    properties->SettableData =
        SERIAL_DATABITS_5 | SERIAL_DATABITS_6 | SERIAL_DATABITS_7 | SERIAL_DATABITS_8;
    properties->SettableStopParity = 0x1F07;
    properties->CurrentRxQueue = rxBufferSize;
    return true;
}

bool SerialPort::GetCommStatus(SERIAL_STATUS* status) {
    status->Errors = errorFlags;
    errorFlags = 0;  // reading the errors ends an error abort
    status->HoldReasons = txHoldReasons;
    if ((rxHoldReasons & kRxHoldDsr) != 0) status->HoldReasons |= SERIAL_RX_WAITING_FOR_DSR;
    if ((rxHoldReasons & kRxHoldXoffSent) != 0) status->HoldReasons |= SERIAL_TX_WAITING_XOFF_SENT;
    status->AmountInInQueue = rxCount;
    status->AmountInOutQueue =
        currentWrite != nullptr && writeTaken < writeLength ? writeLength - writeTaken : 0;
    status->EofReceived = FALSE;
    status->WaitForImmediate = immediateCharPending ? TRUE : FALSE;
    return true;
}

bool SerialPort::Purge(ULONG mask) {
    PurgeTransmit(mask);
    PurgeReceive(mask);
    return true;
}

NTSTATUS SerialPort::PurgeRequest(PIRP irp) {
    const ULONG mask = *static_cast<ULONG*>(irp->AssociatedIrp.SystemBuffer);
    constexpr ULONG kAllPurgeBits = PURGE_TXABORT | PURGE_RXABORT | PURGE_TXCLEAR | PURGE_RXCLEAR;
    if (mask == 0 || (mask & ~kAllPurgeBits) != 0) return STATUS_INVALID_PARAMETER;
    if ((mask & PURGE_RXABORT) != 0) {
        Queue(kReadQueue)->Abort(STATUS_CANCELLED);
        Queue(kReadQueue)->ClearAbort();
    }
    if ((mask & PURGE_TXABORT) != 0) {
        Queue(kWriteQueue)->Abort(STATUS_CANCELLED);
        Queue(kWriteQueue)->ClearAbort();
    }
    WithPortLock([this, mask] { return Purge(mask); });
    return STATUS_SUCCESS;
}

}  // namespace serial
