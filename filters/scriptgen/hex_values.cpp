#include "scriptgen/hex_values.h"

namespace zov::filters {

namespace {

std::uint32_t digitValue(unsigned char character) {
    if (character >= 'a') return character - 87u;
    if (character >= 'A') return character - 55u;
    if (character >= '0') return character - 48u;
    return character;
}

// Escape letters of the control characters that have one; 0 for the others.
char escapeLetter(std::uint32_t value) {
    switch (value) {
        case 7:
            return 'a';
        case 8:
            return 'b';
        case 9:
            return 't';
        case 10:
            return 'n';
        case 12:
            return 'f';
        case 13:
            return 'r';
        default:
            return '\0';
    }
}

}  // namespace

std::uint32_t parseHex(std::string_view digits) {
    std::uint32_t value = 0;
    for (const char digit : digits)
        value = value * 16 + digitValue(static_cast<unsigned char>(digit));
    return value;
}

std::size_t hexToQuotedLiteral(std::string_view hexText, std::span<char> out) {
    constexpr std::size_t kLongestEscape = 4;  // \x41
    constexpr std::size_t kClosing = 2;        // quote and NUL
    if (out.size() < 1 + kClosing) {
        if (!out.empty()) out[0] = '\0';
        return 0;
    }
    std::size_t length = 0;
    out[length++] = '"';
    for (std::size_t at = 0; at + 1 < hexText.size(); at += 2) {
        if (out.size() - length < kLongestEscape + kClosing) break;
        const std::string_view pair = hexText.substr(at, 2);
        const std::uint32_t value = parseHex(pair);
        if (value == 0) break;
        if ((value >= 1 && value <= 31) || (value >= 126 && value <= 255)) {
            out[length++] = '\\';
            if (const char letter = escapeLetter(value); letter != '\0') {
                out[length++] = letter;
            } else {
                out[length++] = 'x';
                out[length++] = pair[0];
                out[length++] = pair[1];
            }
        } else if (value == '"') {  // never a bare quote inside the literal
            out[length++] = '\\';
            out[length++] = 'x';
            out[length++] = pair[0];
            out[length++] = pair[1];
        } else if (value == '\\') {
            out[length++] = '\\';
            out[length++] = '\\';
        } else if (value <= 125) {
            out[length++] = static_cast<char>(value);
        }
        // Above 255, possible only with non-hexadecimal characters: nothing.
    }
    out[length] = '"';
    out[length + 1] = '\0';
    return length + 1;
}

}  // namespace zov::filters
