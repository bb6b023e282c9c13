// Receiving: where arriving characters go (the current read or the receive
// ring), their per-character treatment, and the ring's purge and enlargement.
#include <algorithm>

#include "framework/pool.h"
#include "serial/serial_port.h"

namespace serial {

UCHAR* SerialPort::ReceiveDestination(ULONG want, ULONG* room, bool* intoRead) {
    if (currentRead != nullptr && readCopied < readLength) {
        *intoRead = true;
        *room = std::min(want, readLength - readCopied);
        return readBuffer + readCopied;
    }
    *intoRead = false;
    ULONG space = 0;
    if (rxBuffer == nullptr) {
        space = 0;
    } else if (rxFirst < rxNext) {
        space = rxBufferSize - rxNext;
    } else if (rxFirst > rxNext) {
        space = rxFirst - rxNext;
    } else if (rxCount == 0) {
        rxFirst = 0;
        rxNext = 0;
        space = rxBufferSize;
    }
    *room = std::min(want, space);
    return rxBuffer + rxNext;
}

void SerialPort::AccountReceived(ULONG written, bool intoRead) {
    if (intoRead) {
        readCopied += written;
        if (readCopied >= readLength) {
            PostEvent({PortEvent::kReadEnds, STATUS_SUCCESS, readCopied});
        }
        return;
    }
    rxCount += written;
    rxNext += written;
    if (rxNext == rxBufferSize) rxNext = 0;
    // 64-bit products: the 80 % test must not overflow for large rings.
    const ULONGLONG threshold = ULONGLONG{rxBufferSize} * 8;
    if ((activeWaitMask & EV_RX80FULL) != 0 && ULONGLONG{rxCount} * 10 >= threshold &&
        ULONGLONG{rxCount - written} * 10 < threshold) {
        eventHistory |= EV_RX80FULL;
    }
    if (rxCount > rxBufferSize - static_cast<ULONG>(handFlow.XoffLimit)) OnReceiveAlmostFull();
}

ULONG SerialPort::PutReceived(const UCHAR* bytes, ULONG count, bool raw) {
    if (readIntervalState != ReadIntervalState::Idle) {
        LARGE_INTEGER now;
        KeQuerySystemTime(&now);
        lastCharTime = now.QuadPart;
    }
    // Without any per-character treatment in force, blocks are copied whole.
    const bool perCharacter =
        !raw && ((activeWaitMask & EV_RXFLAG) != 0 || escapeChar != 0 || dataMask != 0xFF ||
                 (activeFlowReplace & (SERIAL_AUTO_TRANSMIT | SERIAL_NULL_STRIPPING)) != 0);
    ULONG accepted = 0;
    // The 0x00 of an escape pair whose first byte filled the last destination.
    bool escapeSecondPending = false;
    while (count > 0 || escapeSecondPending) {
        ULONG room = 0;
        bool intoRead = false;
        UCHAR* destination =
            ReceiveDestination(escapeSecondPending ? count + 1 : count, &room, &intoRead);
        if (room == 0) {
            errorFlags |= SERIAL_ERROR_QUEUEOVERRUN;
            ++perfStats.BufferOverrunErrorCount;
            if ((activeWaitMask & EV_ERR) != 0) eventHistory |= EV_ERR;
            break;
        }
        if (!perCharacter) {
            if ((rxHoldReasons & kRxHoldDsr) == 0) {
                if ((activeWaitMask & EV_RXCHAR) != 0) eventHistory |= EV_RXCHAR;
                RtlCopyMemory(destination, bytes, room);
                AccountReceived(room, intoRead);
                accepted += room;
            }
            bytes += room;
            count -= room;
            continue;
        }
        ULONG written = 0;
        if (escapeSecondPending) {
            destination[written++] = SERIAL_LSRMST_ESCAPE;
            escapeSecondPending = false;
        }
        while (count > 0 && written < room) {
            const UCHAR ch = static_cast<UCHAR>(*bytes++ & dataMask);
            --count;
            if (ch == 0 && (activeFlowReplace & SERIAL_NULL_STRIPPING) != 0) continue;
            if ((activeFlowReplace & SERIAL_AUTO_TRANSMIT) != 0) {
                if (ch == specialChars.XoffChar) {
                    txHoldReasons |= kTxHoldXoffReceived;
                    continue;
                }
                if (ch == specialChars.XonChar) {
                    txHoldReasons &= static_cast<UCHAR>(~kTxHoldXoffReceived);
                    if (txHoldReasons == 0) StartTransmit();
                    continue;
                }
            }
            if ((rxHoldReasons & kRxHoldDsr) != 0) continue;
            if ((activeWaitMask & EV_RXCHAR) != 0) eventHistory |= EV_RXCHAR;
            if (ch == specialChars.EventChar && (activeWaitMask & EV_RXFLAG) != 0) {
                eventHistory |= EV_RXFLAG;
            }
            if (ch != 0 && ch == escapeChar) {
                // The pair is not counted as accepted characters.
                destination[written++] = escapeChar;
                if (written < room) {
                    destination[written++] = SERIAL_LSRMST_ESCAPE;
                } else {
                    escapeSecondPending = true;
                }
                continue;
            }
            destination[written++] = ch;
            ++accepted;
        }
        if (written != 0) AccountReceived(written, intoRead);
    }
    CheckWait();
    if (readIntervalState == ReadIntervalState::Armed) {
        PostEvent({PortEvent::kStartIntervalTiming, STATUS_SUCCESS, 0});
    }
    // An XOFF counter counts only what arrives after its character went out.
    if (currentWrite != nullptr && writeIsXoffCounter && !xoffCharPending && accepted != 0) {
        xoffCounter -= static_cast<LONG>(accepted);
        if (xoffCounter <= 0) PostEvent({PortEvent::kWriteEnds, STATUS_SUCCESS, 0});
    }
    perfStats.ReceivedCount += accepted;
    return accepted;
}

void SerialPort::PurgeReceive(ULONG mask) {
    if ((mask & PURGE_RXABORT) != 0) PostEvent({PortEvent::kReadEnds, STATUS_CANCELLED, 0});
    if ((mask & PURGE_RXCLEAR) != 0) {
        rxFirst = 0;
        rxNext = 0;
        rxCount = 0;
        OnReceiveDrained();
    }
}

UCHAR* SerialPort::ReplaceReceiveBuffer(UCHAR* storage, ULONG size) {
    // Only a larger ring can take every character; anything else is refused and
    // handed back for freeing.
    if (storage == nullptr || size <= rxBufferSize) return storage;
    // A full ring whose indices meet away from 0 wraps as well.
    const bool wrapped = rxCount > 0 && (rxNext < rxFirst || (rxNext == rxFirst && rxFirst != 0));
    if (wrapped) {
        // The part at the start keeps its offsets; the part up to the old end
        // moves to the new end.
        const ULONG tail = rxBufferSize - rxFirst;
        RtlCopyMemory(storage, rxBuffer, rxNext);
        RtlCopyMemory(storage + size - tail, rxBuffer + rxFirst, tail);
        rxFirst = size - tail;
    } else {
        if (rxCount != 0) RtlCopyMemory(storage, rxBuffer + rxFirst, rxCount);
        rxFirst = 0;
        rxNext = rxCount;  // below the new size, which is larger than the old
    }
    UCHAR* old = rxBuffer;
    rxBuffer = storage;
    rxBufferSize = size;
    return old;
}

NTSTATUS SerialPort::SetQueueSize(PIRP irp) {
    // The storage is allocated here, when the request is processed, rather than
    // at dispatch: a request that ends while it waits in the queue (cancelled,
    // purged, cleaned up) or fails before it starts would otherwise leak it.
    const ULONG size = static_cast<SERIAL_QUEUE_SIZE*>(irp->AssociatedIrp.SystemBuffer)->InSize;
    if (size <= rxBufferSize) return STATUS_SUCCESS;
    auto* storage = static_cast<UCHAR*>(framework::PoolAllocate(size));
    if (storage == nullptr) return STATUS_INSUFFICIENT_RESOURCES;
    UCHAR* unused = nullptr;
    WithPortLock([&] { unused = ReplaceReceiveBuffer(storage, size); });
    framework::PoolFree(unused);
    return STATUS_SUCCESS;
}

}  // namespace serial
