// The line defaults of the system's Ports key, loaded at every open: a value
// named after the port ("COM5:") holding "baud,parity,data bits,stop bits,handshake".
#include "framework/registry_access.h"
#include "serial/serial_port.h"

namespace serial {
namespace {

constexpr const WCHAR* kPortsKey =
    u"\\Registry\\Machine\\Software\\Microsoft\\Windows NT\\CurrentVersion\\Ports";

enum PortsField : ULONG { kBaud, kParity, kDataBits, kStopBits, kHandshake, kFieldCount };
constexpr const WCHAR* kFieldDefaults[kFieldCount] = {u"1200", u"n", u"7", u"1", u" "};

struct ParityLetter {
    WCHAR letter;  // case-sensitive
    UCHAR code;
};
constexpr ParityLetter kParityLetters[] = {
    {u'e', 0x18}, {u'm', 0x28}, {u'n', 0x00}, {u'o', 0x08}, {u's', 0x38},
};

constexpr UCHAR kMoreStopBits = 0x04;
constexpr LONG kFlowLimit = 20;

struct Handshake {
    const WCHAR* name;  // compared without case; NULL: any other text
    ULONG controlHandShake;
    ULONG flowReplace;
};
constexpr Handshake kHandshakes[] = {
    {u"x", SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL | SERIAL_AUTO_RECEIVE | SERIAL_AUTO_TRANSMIT},
    {u"p", SERIAL_DTR_HANDSHAKE | SERIAL_CTS_HANDSHAKE | SERIAL_DSR_HANDSHAKE,
     SERIAL_RTS_HANDSHAKE},
    {nullptr, SERIAL_DTR_CONTROL, SERIAL_RTS_CONTROL},
};

// Fields are views into the value's text (or the defaults): nothing to release
// when parsing stops early.
UNICODE_STRING View(const WCHAR* text, SIZE_T count) {
    const auto bytes = static_cast<USHORT>(count * sizeof(WCHAR));
    return UNICODE_STRING{bytes, bytes, const_cast<PWCHAR>(text)};
}

bool IsBlank(WCHAR character) {
    return character == u' ' || character == u'\t' || character == u'\n';
}

bool Equals(const UNICODE_STRING& field, const WCHAR* text, bool caseInsensitive) {
    UNICODE_STRING other;
    RtlInitUnicodeString(&other, text);
    return RtlEqualUnicodeString(&field, &other, caseInsensitive ? TRUE : FALSE) != FALSE;
}

// The value's text, empty when the key, the value or a string of it is missing.
void ReadPortsValue(const framework::CountedString& portName, framework::CountedString* text) {
    UNICODE_STRING path;
    RtlInitUnicodeString(&path, kPortsKey);
    const HANDLE key = framework::OpenKey(&path, KEY_READ);
    if (key == nullptr) return;
    try {
        framework::CountedString valueName;
        valueName.Assign(portName);
        valueName.Append(u':');
        (void)framework::ReadString(key, valueName.Text(), text);
    } catch (const kernel::StatusException&) {
        // No storage for the value's name: as if there were no value.
    }
    (void)ZwClose(key);
}

// Splits `text` at commas into at most five fields, each trimmed of blanks, over
// the defaults. A field that is empty before trimming (two commas in a row, a
// leading comma) ends the splitting; text after a fifth field is ignored.
void SplitFields(const framework::CountedString& text, UNICODE_STRING (&fields)[kFieldCount]) {
    const SIZE_T length = text.LengthInCharacters();
    SIZE_T position = 0;
    for (ULONG field = 0; field < kFieldCount && position < length; ++field) {
        SIZE_T end = position;
        while (end < length && text.At(end) != u',') ++end;
        if (end == position) break;
        SIZE_T first = position;
        SIZE_T last = end;
        while (first < last && IsBlank(text.At(first))) ++first;
        while (last > first && IsBlank(text.At(last - 1))) --last;
        fields[field] = View(text.Text() + first, last - first);
        position = end + 1;
    }
}

UCHAR ParityCode(const UNICODE_STRING& field) {
    if (field.Length == 0) return 0x00;
    for (const ParityLetter& parity : kParityLetters) {
        if (field.Buffer[0] == parity.letter) return parity.code;
    }
    return 0x00;
}

const Handshake& HandshakeFor(const UNICODE_STRING& field) {
    for (const Handshake& handshake : kHandshakes) {
        if (handshake.name == nullptr || Equals(field, handshake.name, true)) return handshake;
    }
    return kHandshakes[sizeof kHandshakes / sizeof kHandshakes[0] - 1];
}

}  // namespace

void SerialPort::LoadPortsDefaults() {
    framework::CountedString text;
    ReadPortsValue(portName, &text);
    UNICODE_STRING fields[kFieldCount];
    for (ULONG field = 0; field < kFieldCount; ++field) {
        RtlInitUnicodeString(&fields[field], kFieldDefaults[field]);
    }
    SplitFields(text, fields);
    // A baud or data-bits field that is no number ends the loading there: what
    // was assigned before stays, the rest keeps its previous value.
    WithPortLock([&] {
        ULONG baud = 0;
        if (!NT_SUCCESS(RtlUnicodeStringToInteger(&fields[kBaud], 10, &baud))) return;
        baudRate = baud;
        const UCHAR parity = ParityCode(fields[kParity]);
        ULONG dataBits = 0;
        if (!NT_SUCCESS(RtlUnicodeStringToInteger(&fields[kDataBits], 10, &dataBits))) return;
        const auto dataBitsCode = static_cast<UCHAR>((dataBits - 1) & 3);
        const UCHAR stopBits = Equals(fields[kStopBits], u"1", false) ? 0 : kMoreStopBits;
        lineControl = static_cast<UCHAR>(parity | dataBitsCode | stopBits);
        handFlow = SERIAL_HANDFLOW{};
        handFlow.XonLimit = kFlowLimit;
        handFlow.XoffLimit = kFlowLimit;
        const Handshake& handshake = HandshakeFor(fields[kHandshake]);
        handFlow.ControlHandShake = handshake.controlHandShake;
        handFlow.FlowReplace = handshake.flowReplace;
    });
}

}  // namespace serial
