// Reports as texts of hexadecimal digits: two upper-case digits per byte, in
// buffer order, no separators; and the reverse for WriteData's argument.
#pragma once

#include <cstddef>
#include <optional>
#include <vector>

#include "win32_api.h"

namespace hidbridge {

// A new BSTR with the hexadecimal text of the bytes, or null when out of memory.
BSTR HexText(const BYTE* bytes, std::size_t count);

struct HexParse {
    std::vector<BYTE> bytes;
    // Index of the first character of the first pair that is not hexadecimal.
    std::optional<std::size_t> badPosition;
};

// Parses digit pairs; upper and lower case are accepted. A last single digit
// (odd length) is a byte of its own with that digit's value.
HexParse ParseHexText(const OLECHAR* text, std::size_t length);

// A new BSTR holding an ASCII text, or null when out of memory.
BSTR AsciiText(const char* text);

}  // namespace hidbridge
