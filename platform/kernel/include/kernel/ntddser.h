// The serial device interface: control codes, their structures and the
// constants of the Windows serial port model, as documented for ntddser.h.
// Layouts follow the documentation; every structure is padded as on x86.
// The control-code layout (CTL_CODE, FILE_DEVICE_SERIAL_PORT) is the I/O manager's.
#pragma once

#include "kernel/io.h"
#include "kernel/types.h"

namespace zov::kernel::detail {
constexpr ULONG SerialCode(ULONG function) {
    return CTL_CODE(FILE_DEVICE_SERIAL_PORT, function, METHOD_BUFFERED, FILE_ANY_ACCESS);
}
}  // namespace zov::kernel::detail

// ---- IRP_MJ_DEVICE_CONTROL codes -------------------------------------------

constexpr ULONG IOCTL_SERIAL_SET_BAUD_RATE = zov::kernel::detail::SerialCode(1);
constexpr ULONG IOCTL_SERIAL_SET_QUEUE_SIZE = zov::kernel::detail::SerialCode(2);
constexpr ULONG IOCTL_SERIAL_SET_LINE_CONTROL = zov::kernel::detail::SerialCode(3);
constexpr ULONG IOCTL_SERIAL_SET_BREAK_ON = zov::kernel::detail::SerialCode(4);
constexpr ULONG IOCTL_SERIAL_SET_BREAK_OFF = zov::kernel::detail::SerialCode(5);
constexpr ULONG IOCTL_SERIAL_IMMEDIATE_CHAR = zov::kernel::detail::SerialCode(6);
constexpr ULONG IOCTL_SERIAL_SET_TIMEOUTS = zov::kernel::detail::SerialCode(7);
constexpr ULONG IOCTL_SERIAL_GET_TIMEOUTS = zov::kernel::detail::SerialCode(8);
constexpr ULONG IOCTL_SERIAL_SET_DTR = zov::kernel::detail::SerialCode(9);
constexpr ULONG IOCTL_SERIAL_CLR_DTR = zov::kernel::detail::SerialCode(10);
constexpr ULONG IOCTL_SERIAL_RESET_DEVICE = zov::kernel::detail::SerialCode(11);
constexpr ULONG IOCTL_SERIAL_SET_RTS = zov::kernel::detail::SerialCode(12);
constexpr ULONG IOCTL_SERIAL_CLR_RTS = zov::kernel::detail::SerialCode(13);
constexpr ULONG IOCTL_SERIAL_SET_XOFF = zov::kernel::detail::SerialCode(14);
constexpr ULONG IOCTL_SERIAL_SET_XON = zov::kernel::detail::SerialCode(15);
constexpr ULONG IOCTL_SERIAL_GET_WAIT_MASK = zov::kernel::detail::SerialCode(16);
constexpr ULONG IOCTL_SERIAL_SET_WAIT_MASK = zov::kernel::detail::SerialCode(17);
constexpr ULONG IOCTL_SERIAL_WAIT_ON_MASK = zov::kernel::detail::SerialCode(18);
constexpr ULONG IOCTL_SERIAL_PURGE = zov::kernel::detail::SerialCode(19);
constexpr ULONG IOCTL_SERIAL_GET_BAUD_RATE = zov::kernel::detail::SerialCode(20);
constexpr ULONG IOCTL_SERIAL_GET_LINE_CONTROL = zov::kernel::detail::SerialCode(21);
constexpr ULONG IOCTL_SERIAL_GET_CHARS = zov::kernel::detail::SerialCode(22);
constexpr ULONG IOCTL_SERIAL_SET_CHARS = zov::kernel::detail::SerialCode(23);
constexpr ULONG IOCTL_SERIAL_GET_HANDFLOW = zov::kernel::detail::SerialCode(24);
constexpr ULONG IOCTL_SERIAL_SET_HANDFLOW = zov::kernel::detail::SerialCode(25);
constexpr ULONG IOCTL_SERIAL_GET_MODEMSTATUS = zov::kernel::detail::SerialCode(26);
constexpr ULONG IOCTL_SERIAL_GET_COMMSTATUS = zov::kernel::detail::SerialCode(27);
constexpr ULONG IOCTL_SERIAL_XOFF_COUNTER = zov::kernel::detail::SerialCode(28);
constexpr ULONG IOCTL_SERIAL_GET_PROPERTIES = zov::kernel::detail::SerialCode(29);
constexpr ULONG IOCTL_SERIAL_GET_DTRRTS = zov::kernel::detail::SerialCode(30);
constexpr ULONG IOCTL_SERIAL_LSRMST_INSERT = zov::kernel::detail::SerialCode(31);
constexpr ULONG IOCTL_SERIAL_CONFIG_SIZE = zov::kernel::detail::SerialCode(32);
constexpr ULONG IOCTL_SERIAL_GET_COMMCONFIG = zov::kernel::detail::SerialCode(33);
constexpr ULONG IOCTL_SERIAL_SET_COMMCONFIG = zov::kernel::detail::SerialCode(34);
constexpr ULONG IOCTL_SERIAL_GET_STATS = zov::kernel::detail::SerialCode(35);
constexpr ULONG IOCTL_SERIAL_CLEAR_STATS = zov::kernel::detail::SerialCode(36);
constexpr ULONG IOCTL_SERIAL_GET_MODEM_CONTROL = zov::kernel::detail::SerialCode(37);
constexpr ULONG IOCTL_SERIAL_SET_MODEM_CONTROL = zov::kernel::detail::SerialCode(38);
constexpr ULONG IOCTL_SERIAL_SET_FIFO_CONTROL = zov::kernel::detail::SerialCode(39);

// ---- IRP_MJ_INTERNAL_DEVICE_CONTROL codes ----------------------------------

constexpr ULONG IOCTL_SERIAL_INTERNAL_DO_WAIT_WAKE = zov::kernel::detail::SerialCode(1);
constexpr ULONG IOCTL_SERIAL_INTERNAL_CANCEL_WAIT_WAKE = zov::kernel::detail::SerialCode(2);
constexpr ULONG IOCTL_SERIAL_INTERNAL_BASIC_SETTINGS = zov::kernel::detail::SerialCode(3);
constexpr ULONG IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS = zov::kernel::detail::SerialCode(4);

// ---- Structures ------------------------------------------------------------

struct SERIAL_BAUD_RATE {
    ULONG BaudRate;
};
using PSERIAL_BAUD_RATE = SERIAL_BAUD_RATE*;

struct SERIAL_LINE_CONTROL {
    UCHAR StopBits;
    UCHAR Parity;
    UCHAR WordLength;
};
using PSERIAL_LINE_CONTROL = SERIAL_LINE_CONTROL*;

struct SERIAL_TIMEOUTS {
    ULONG ReadIntervalTimeout;
    ULONG ReadTotalTimeoutMultiplier;
    ULONG ReadTotalTimeoutConstant;
    ULONG WriteTotalTimeoutMultiplier;
    ULONG WriteTotalTimeoutConstant;
};
using PSERIAL_TIMEOUTS = SERIAL_TIMEOUTS*;

struct SERIAL_CHARS {
    UCHAR EofChar;
    UCHAR ErrorChar;
    UCHAR BreakChar;
    UCHAR EventChar;
    UCHAR XonChar;
    UCHAR XoffChar;
};
using PSERIAL_CHARS = SERIAL_CHARS*;

struct SERIAL_HANDFLOW {
    ULONG ControlHandShake;
    ULONG FlowReplace;
    LONG XonLimit;
    LONG XoffLimit;
};
using PSERIAL_HANDFLOW = SERIAL_HANDFLOW*;

struct SERIAL_STATUS {
    ULONG Errors;
    ULONG HoldReasons;
    ULONG AmountInInQueue;
    ULONG AmountInOutQueue;
    BOOLEAN EofReceived;
    BOOLEAN WaitForImmediate;
};
using PSERIAL_STATUS = SERIAL_STATUS*;

struct SERIALPERF_STATS {
    ULONG ReceivedCount;
    ULONG TransmittedCount;
    ULONG FrameErrorCount;
    ULONG SerialOverrunErrorCount;
    ULONG BufferOverrunErrorCount;
    ULONG ParityErrorCount;
};
using PSERIALPERF_STATS = SERIALPERF_STATS*;

struct SERIAL_COMMPROP {
    USHORT PacketLength;
    USHORT PacketVersion;
    ULONG ServiceMask;
    ULONG Reserved1;
    ULONG MaxTxQueue;
    ULONG MaxRxQueue;
    ULONG MaxBaud;
    ULONG ProvSubType;
    ULONG ProvCapabilities;
    ULONG SettableParams;
    ULONG SettableBaud;
    USHORT SettableData;
    USHORT SettableStopParity;
    ULONG CurrentTxQueue;
    ULONG CurrentRxQueue;
    ULONG ProvSpec1;
    ULONG ProvSpec2;
    WCHAR ProvChar[1];
};
using PSERIAL_COMMPROP = SERIAL_COMMPROP*;

struct SERIAL_QUEUE_SIZE {
    ULONG InSize;
    ULONG OutSize;
};
using PSERIAL_QUEUE_SIZE = SERIAL_QUEUE_SIZE*;

struct SERIAL_XOFF_COUNTER {
    ULONG Timeout;  // milliseconds
    LONG Counter;
    UCHAR XoffChar;
};
using PSERIAL_XOFF_COUNTER = SERIAL_XOFF_COUNTER*;

struct SERIAL_BASIC_SETTINGS {
    SERIAL_TIMEOUTS Timeouts;
    SERIAL_HANDFLOW HandFlow;
    ULONG RxFifo;
    ULONG TxFifo;
};
using PSERIAL_BASIC_SETTINGS = SERIAL_BASIC_SETTINGS*;

static_assert(sizeof(SERIAL_LINE_CONTROL) == 3);
static_assert(sizeof(SERIAL_TIMEOUTS) == 20);
static_assert(sizeof(SERIAL_CHARS) == 6);
static_assert(sizeof(SERIAL_HANDFLOW) == 16);
static_assert(sizeof(SERIAL_STATUS) == 20);
static_assert(sizeof(SERIALPERF_STATS) == 24);
static_assert(sizeof(SERIAL_COMMPROP) == 64);
static_assert(sizeof(SERIAL_QUEUE_SIZE) == 8);
static_assert(sizeof(SERIAL_XOFF_COUNTER) == 12);
static_assert(sizeof(SERIAL_BASIC_SETTINGS) == 44);

// ---- SERIAL_LINE_CONTROL values --------------------------------------------

constexpr UCHAR STOP_BIT_1 = 0;
constexpr UCHAR STOP_BITS_1_5 = 1;
constexpr UCHAR STOP_BITS_2 = 2;

constexpr UCHAR NO_PARITY = 0;
constexpr UCHAR ODD_PARITY = 1;
constexpr UCHAR EVEN_PARITY = 2;
constexpr UCHAR MARK_PARITY = 3;
constexpr UCHAR SPACE_PARITY = 4;

// ---- SERIAL_HANDFLOW.ControlHandShake --------------------------------------

constexpr ULONG SERIAL_DTR_MASK = 0x00000003;
constexpr ULONG SERIAL_DTR_CONTROL = 0x00000001;
constexpr ULONG SERIAL_DTR_HANDSHAKE = 0x00000002;
constexpr ULONG SERIAL_CTS_HANDSHAKE = 0x00000008;
constexpr ULONG SERIAL_DSR_HANDSHAKE = 0x00000010;
constexpr ULONG SERIAL_DCD_HANDSHAKE = 0x00000020;
constexpr ULONG SERIAL_OUT_HANDSHAKEMASK = 0x00000038;
constexpr ULONG SERIAL_DSR_SENSITIVITY = 0x00000040;
constexpr ULONG SERIAL_ERROR_ABORT = 0x80000000;
constexpr ULONG SERIAL_CONTROL_INVALID = 0x7FFFFF84;

// ---- SERIAL_HANDFLOW.FlowReplace -------------------------------------------

constexpr ULONG SERIAL_AUTO_TRANSMIT = 0x00000001;
constexpr ULONG SERIAL_AUTO_RECEIVE = 0x00000002;
constexpr ULONG SERIAL_ERROR_CHAR = 0x00000004;
constexpr ULONG SERIAL_NULL_STRIPPING = 0x00000008;
constexpr ULONG SERIAL_BREAK_CHAR = 0x00000010;
constexpr ULONG SERIAL_RTS_MASK = 0x000000C0;
constexpr ULONG SERIAL_RTS_CONTROL = 0x00000040;
constexpr ULONG SERIAL_RTS_HANDSHAKE = 0x00000080;
constexpr ULONG SERIAL_TRANSMIT_TOGGLE = 0x000000C0;
constexpr ULONG SERIAL_XOFF_CONTINUE = 0x80000000;
constexpr ULONG SERIAL_FLOW_INVALID = 0x7FFFFF20;

// ---- SERIAL_STATUS.Errors --------------------------------------------------

constexpr ULONG SERIAL_ERROR_BREAK = 0x00000001;
constexpr ULONG SERIAL_ERROR_FRAMING = 0x00000002;
constexpr ULONG SERIAL_ERROR_OVERRUN = 0x00000004;
constexpr ULONG SERIAL_ERROR_QUEUEOVERRUN = 0x00000008;
constexpr ULONG SERIAL_ERROR_PARITY = 0x00000010;

// ---- SERIAL_STATUS.HoldReasons ---------------------------------------------

constexpr ULONG SERIAL_TX_WAITING_FOR_CTS = 0x00000001;
constexpr ULONG SERIAL_TX_WAITING_FOR_DSR = 0x00000002;
constexpr ULONG SERIAL_TX_WAITING_FOR_DCD = 0x00000004;
constexpr ULONG SERIAL_TX_WAITING_FOR_XON = 0x00000008;
constexpr ULONG SERIAL_TX_WAITING_XOFF_SENT = 0x00000010;
constexpr ULONG SERIAL_TX_WAITING_ON_BREAK = 0x00000020;
constexpr ULONG SERIAL_RX_WAITING_FOR_DSR = 0x00000040;

// ---- Modem control and status (GET_DTRRTS, GET_MODEMSTATUS) ----------------

constexpr ULONG SERIAL_DTR_STATE = 0x00000001;
constexpr ULONG SERIAL_RTS_STATE = 0x00000002;
constexpr ULONG SERIAL_CTS_STATE = 0x00000010;
constexpr ULONG SERIAL_DSR_STATE = 0x00000020;
constexpr ULONG SERIAL_RI_STATE = 0x00000040;
constexpr ULONG SERIAL_DCD_STATE = 0x00000080;

// Modem control register bits (GET_MODEM_CONTROL / SET_MODEM_CONTROL).
constexpr ULONG SERIAL_IOC_MCR_DTR = 0x00000001;
constexpr ULONG SERIAL_IOC_MCR_RTS = 0x00000002;
constexpr ULONG SERIAL_IOC_MCR_OUT1 = 0x00000004;
constexpr ULONG SERIAL_IOC_MCR_OUT2 = 0x00000008;
constexpr ULONG SERIAL_IOC_MCR_LOOP = 0x00000010;

// FIFO control register bits (SET_FIFO_CONTROL).
constexpr ULONG SERIAL_IOC_FCR_FIFO_ENABLE = 0x00000001;
constexpr ULONG SERIAL_IOC_FCR_RCVR_RESET = 0x00000002;
constexpr ULONG SERIAL_IOC_FCR_XMIT_RESET = 0x00000004;
constexpr ULONG SERIAL_IOC_FCR_DMA_MODE = 0x00000008;
constexpr ULONG SERIAL_IOC_FCR_RES1 = 0x00000010;
constexpr ULONG SERIAL_IOC_FCR_RES2 = 0x00000020;
constexpr ULONG SERIAL_IOC_FCR_RCVR_TRIGGER_LSB = 0x00000040;
constexpr ULONG SERIAL_IOC_FCR_RCVR_TRIGGER_MSB = 0x00000080;

// ---- Wait mask (SET_WAIT_MASK, WAIT_ON_MASK) -------------------------------

constexpr ULONG SERIAL_EV_RXCHAR = 0x0001;
constexpr ULONG SERIAL_EV_RXFLAG = 0x0002;
constexpr ULONG SERIAL_EV_TXEMPTY = 0x0004;
constexpr ULONG SERIAL_EV_CTS = 0x0008;
constexpr ULONG SERIAL_EV_DSR = 0x0010;
constexpr ULONG SERIAL_EV_RLSD = 0x0020;
constexpr ULONG SERIAL_EV_BREAK = 0x0040;
constexpr ULONG SERIAL_EV_ERR = 0x0080;
constexpr ULONG SERIAL_EV_RING = 0x0100;
constexpr ULONG SERIAL_EV_PERR = 0x0200;
constexpr ULONG SERIAL_EV_RX80FULL = 0x0400;
constexpr ULONG SERIAL_EV_EVENT1 = 0x0800;
constexpr ULONG SERIAL_EV_EVENT2 = 0x1000;

// The communications API spells the same events EV_*.
constexpr ULONG EV_RXCHAR = SERIAL_EV_RXCHAR;
constexpr ULONG EV_RXFLAG = SERIAL_EV_RXFLAG;
constexpr ULONG EV_TXEMPTY = SERIAL_EV_TXEMPTY;
constexpr ULONG EV_CTS = SERIAL_EV_CTS;
constexpr ULONG EV_DSR = SERIAL_EV_DSR;
constexpr ULONG EV_RLSD = SERIAL_EV_RLSD;
constexpr ULONG EV_BREAK = SERIAL_EV_BREAK;
constexpr ULONG EV_ERR = SERIAL_EV_ERR;
constexpr ULONG EV_RING = SERIAL_EV_RING;
constexpr ULONG EV_PERR = SERIAL_EV_PERR;
constexpr ULONG EV_RX80FULL = SERIAL_EV_RX80FULL;
constexpr ULONG EV_EVENT1 = SERIAL_EV_EVENT1;
constexpr ULONG EV_EVENT2 = SERIAL_EV_EVENT2;

// ---- Purge mask (PURGE) ----------------------------------------------------

constexpr ULONG SERIAL_PURGE_TXABORT = 0x00000001;
constexpr ULONG SERIAL_PURGE_RXABORT = 0x00000002;
constexpr ULONG SERIAL_PURGE_TXCLEAR = 0x00000004;
constexpr ULONG SERIAL_PURGE_RXCLEAR = 0x00000008;

constexpr ULONG PURGE_TXABORT = SERIAL_PURGE_TXABORT;
constexpr ULONG PURGE_RXABORT = SERIAL_PURGE_RXABORT;
constexpr ULONG PURGE_TXCLEAR = SERIAL_PURGE_TXCLEAR;
constexpr ULONG PURGE_RXCLEAR = SERIAL_PURGE_RXCLEAR;

// ---- LSRMST_INSERT escape sequences ----------------------------------------

constexpr UCHAR SERIAL_LSRMST_ESCAPE = 0x00;
constexpr UCHAR SERIAL_LSRMST_LSR_DATA = 0x01;
constexpr UCHAR SERIAL_LSRMST_LSR_NODATA = 0x02;
constexpr UCHAR SERIAL_LSRMST_MST = 0x03;

// ---- SERIAL_COMMPROP values ------------------------------------------------

constexpr ULONG SERIAL_SP_SERIALCOMM = 0x00000001;  // ServiceMask

// ProvSubType
constexpr ULONG SERIAL_SP_UNSPECIFIED = 0x00000000;
constexpr ULONG SERIAL_SP_RS232 = 0x00000001;
constexpr ULONG SERIAL_SP_PARALLEL = 0x00000002;
constexpr ULONG SERIAL_SP_RS422 = 0x00000003;
constexpr ULONG SERIAL_SP_RS423 = 0x00000004;
constexpr ULONG SERIAL_SP_RS449 = 0x00000005;
constexpr ULONG SERIAL_SP_MODEM = 0x00000006;
constexpr ULONG SERIAL_SP_FAX = 0x00000021;
constexpr ULONG SERIAL_SP_SCANNER = 0x00000022;
constexpr ULONG SERIAL_SP_BRIDGE = 0x00000100;
constexpr ULONG SERIAL_SP_LAT = 0x00000101;
constexpr ULONG SERIAL_SP_TELNET = 0x00000102;
constexpr ULONG SERIAL_SP_X25 = 0x00000103;

// ProvCapabilities
constexpr ULONG SERIAL_PCF_DTRDSR = 0x0001;
constexpr ULONG SERIAL_PCF_RTSCTS = 0x0002;
constexpr ULONG SERIAL_PCF_CD = 0x0004;
constexpr ULONG SERIAL_PCF_PARITY_CHECK = 0x0008;
constexpr ULONG SERIAL_PCF_XONXOFF = 0x0010;
constexpr ULONG SERIAL_PCF_SETXCHAR = 0x0020;
constexpr ULONG SERIAL_PCF_TOTALTIMEOUTS = 0x0040;
constexpr ULONG SERIAL_PCF_INTTIMEOUTS = 0x0080;
constexpr ULONG SERIAL_PCF_SPECIALCHARS = 0x0100;
constexpr ULONG SERIAL_PCF_16BITMODE = 0x0200;

// SettableParams
constexpr ULONG SERIAL_SP_PARITY = 0x0001;
constexpr ULONG SERIAL_SP_BAUD = 0x0002;
constexpr ULONG SERIAL_SP_DATABITS = 0x0004;
constexpr ULONG SERIAL_SP_STOPBITS = 0x0008;
constexpr ULONG SERIAL_SP_HANDSHAKING = 0x0010;
constexpr ULONG SERIAL_SP_PARITY_CHECK = 0x0020;
constexpr ULONG SERIAL_SP_CARRIER_DETECT = 0x0040;

// SettableBaud and MaxBaud
constexpr ULONG SERIAL_BAUD_075 = 0x00000001;
constexpr ULONG SERIAL_BAUD_110 = 0x00000002;
constexpr ULONG SERIAL_BAUD_134_5 = 0x00000004;
constexpr ULONG SERIAL_BAUD_150 = 0x00000008;
constexpr ULONG SERIAL_BAUD_300 = 0x00000010;
constexpr ULONG SERIAL_BAUD_600 = 0x00000020;
constexpr ULONG SERIAL_BAUD_1200 = 0x00000040;
constexpr ULONG SERIAL_BAUD_1800 = 0x00000080;
constexpr ULONG SERIAL_BAUD_2400 = 0x00000100;
constexpr ULONG SERIAL_BAUD_4800 = 0x00000200;
constexpr ULONG SERIAL_BAUD_7200 = 0x00000400;
constexpr ULONG SERIAL_BAUD_9600 = 0x00000800;
constexpr ULONG SERIAL_BAUD_14400 = 0x00001000;
constexpr ULONG SERIAL_BAUD_19200 = 0x00002000;
constexpr ULONG SERIAL_BAUD_38400 = 0x00004000;
constexpr ULONG SERIAL_BAUD_56K = 0x00008000;
constexpr ULONG SERIAL_BAUD_128K = 0x00010000;
constexpr ULONG SERIAL_BAUD_115200 = 0x00020000;
constexpr ULONG SERIAL_BAUD_57600 = 0x00040000;
constexpr ULONG SERIAL_BAUD_USER = 0x10000000;

// SettableData
constexpr USHORT SERIAL_DATABITS_5 = 0x0001;
constexpr USHORT SERIAL_DATABITS_6 = 0x0002;
constexpr USHORT SERIAL_DATABITS_7 = 0x0004;
constexpr USHORT SERIAL_DATABITS_8 = 0x0008;
constexpr USHORT SERIAL_DATABITS_16 = 0x0010;
constexpr USHORT SERIAL_DATABITS_16X = 0x0020;

// SettableStopParity
constexpr USHORT SERIAL_STOPBITS_10 = 0x0001;
constexpr USHORT SERIAL_STOPBITS_15 = 0x0002;
constexpr USHORT SERIAL_STOPBITS_20 = 0x0004;
constexpr USHORT SERIAL_PARITY_NONE = 0x0100;
constexpr USHORT SERIAL_PARITY_ODD = 0x0200;
constexpr USHORT SERIAL_PARITY_EVEN = 0x0400;
constexpr USHORT SERIAL_PARITY_MARK = 0x0800;
constexpr USHORT SERIAL_PARITY_SPACE = 0x1000;

// ---- Device interface ------------------------------------------------------

// {86E0D1E0-8089-11D0-9CE4-08003E301F73}
inline constexpr GUID GUID_DEVINTERFACE_COMPORT = {
    0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

static_assert(IOCTL_SERIAL_SET_BAUD_RATE == 0x1B0004);
static_assert(IOCTL_SERIAL_SET_FIFO_CONTROL == 0x1B009C);
static_assert(IOCTL_SERIAL_INTERNAL_RESTORE_SETTINGS == 0x1B0010);
