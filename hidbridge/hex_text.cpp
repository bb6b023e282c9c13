#include "hex_text.h"

#include <cstring>

namespace hidbridge {
namespace {

constexpr char kDigits[] = "0123456789ABCDEF";

int DigitValue(OLECHAR c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

}  // namespace

BSTR HexText(const BYTE* bytes, std::size_t count) {
    BSTR text = SysAllocStringLen(nullptr, static_cast<UINT>(count * 2));
    if (text == nullptr) return nullptr;
    for (std::size_t i = 0; i < count; ++i) {
        text[2 * i] = static_cast<OLECHAR>(kDigits[bytes[i] >> 4]);
        text[2 * i + 1] = static_cast<OLECHAR>(kDigits[bytes[i] & 0x0F]);
    }
    return text;
}

HexParse ParseHexText(const OLECHAR* text, std::size_t length) {
    HexParse result;
    result.bytes.reserve(length / 2 + 1);
    for (std::size_t i = 0; i < length; i += 2) {
        int high = DigitValue(text[i]);
        int low = i + 1 < length ? DigitValue(text[i + 1]) : 0;
        if (high < 0 || low < 0) {
            result.badPosition = i;
            result.bytes.clear();
            return result;
        }
        result.bytes.push_back(static_cast<BYTE>(i + 1 < length ? (high << 4) | low : high));
    }
    return result;
}

BSTR AsciiText(const char* text) {
    std::size_t length = std::strlen(text);
    BSTR result = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (result == nullptr) return nullptr;
    for (std::size_t i = 0; i < length; ++i) result[i] = static_cast<OLECHAR>(text[i]);
    return result;
}

}  // namespace hidbridge
