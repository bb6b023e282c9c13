// Decoding of parameter values: hexadecimal numbers and hexadecimal byte
// strings turned into quoted QVE string literals.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>

namespace zov::filters {

inline constexpr std::string_view kEmptyLiteral = "\"\"";

// The digits as a base-16 number, most significant first. No character is
// rejected: 'a' and above count as code - 87, 'A' and above as code - 55,
// '0' and above as code - 48, anything lower as its own code.
std::uint32_t parseHex(std::string_view digits);

// Writes the quoted literal of a hexadecimal byte string into out, followed
// by a NUL, and returns its length without the NUL. The literal ends at the
// first zero byte. out needs room for 2 x hexText.size() + 3 characters;
// pairs that would not fit are left out.
std::size_t hexToQuotedLiteral(std::string_view hexText, std::span<char> out);

}  // namespace zov::filters
