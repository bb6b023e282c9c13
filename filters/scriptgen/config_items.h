// The configuration item table: the 173 Advanced Formatting parameters that
// scriptgen knows, in trailer order, with their kinds, widths and defaults.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace zov::filters {

enum class ItemKind { Enumeration, Range, HexString, EnumerationList };

inline constexpr std::size_t kConfigIDLength = 4;

// A four-character key, kept NUL-terminated.
struct ConfigID {
    std::array<char, kConfigIDLength + 1> characters{};

    constexpr std::string_view view() const { return {characters.data(), kConfigIDLength}; }
};

constexpr ConfigID makeConfigID(std::string_view text) {
    ConfigID id;
    for (std::size_t i = 0; i < kConfigIDLength && i < text.size(); ++i) id.characters[i] = text[i];
    return id;
}

struct ConfigItemDefinition {
    ConfigID configID;
    ItemKind kind;
    std::int32_t byteCount;
    std::string_view defaultValue;  // 2 x byteCount characters
};

inline constexpr std::size_t kGeneralItemCount = 9;
inline constexpr std::size_t kFormatItemCount = 41;
inline constexpr std::size_t kFormatCount = 4;
inline constexpr std::size_t kConfigItemCount = kGeneralItemCount + kFormatCount * kFormatItemCount;
inline constexpr std::int32_t kWidestByteCount = 10;

namespace config_table_detail {

struct ItemRow {
    std::string_view configID;
    ItemKind kind;
    std::int32_t byteCount;
    std::string_view defaultValue;
};

using enum ItemKind;

inline constexpr std::array<ItemRow, kGeneralItemCount> kGeneralItems{{
    {"AFNM", Enumeration, 1, "00"},
    {"CNEN", Enumeration, 1, "00"},
    {"CNT1", Enumeration, 1, "26"},
    {"CNL1", Range, 2, "0001"},
    {"CNT2", Enumeration, 1, "26"},
    {"CNL2", Range, 2, "0001"},
    {"CNRT", Enumeration, 1, "26"},
    {"CNTO", Range, 1, "00"},
    {"CNTT", Enumeration, 1, "00"},
}};

// Format 1's items; the other formats put their digit in the second character.
inline constexpr std::array<ItemRow, kFormatItemCount> kFormatItems{{
    {"T1EN", Enumeration, 1, "00"},
    {"T1MT", Enumeration, 1, "00"},
    {"T1ML", Range, 2, "0000"},
    {"T1MC", HexString, 4, "00000000"},
    {"T1MP", Range, 2, "0000"},
    {"T1AE", Enumeration, 1, "00"},
    {"T1AC", HexString, 1, "00"},
    {"T1AT", Enumeration, 1, "00"},
    {"T1AN", Range, 1, "01"},
    {"T1RE", Enumeration, 1, "00"},
    {"T1RF", HexString, 1, "00"},
    {"T1RR", HexString, 1, "00"},
    {"T11C", Enumeration, 1, "01"},
    {"T11L", Range, 2, "0001"},
    {"T11S", HexString, 1, "01"},
    {"T11T", Enumeration, 1, "00"},
    {"T11R", HexString, 2, "0000"},
    {"T12C", Enumeration, 1, "00"},
    {"T12L", Range, 2, "0001"},
    {"T12S", HexString, 1, "01"},
    {"T12T", Enumeration, 1, "00"},
    {"T12R", HexString, 2, "0000"},
    {"T13C", Enumeration, 1, "00"},
    {"T13L", Range, 2, "0001"},
    {"T13S", HexString, 1, "01"},
    {"T13T", Enumeration, 1, "00"},
    {"T13R", HexString, 2, "0000"},
    {"T14C", Enumeration, 1, "00"},
    {"T14L", Range, 2, "0001"},
    {"T14S", HexString, 1, "01"},
    {"T14T", Enumeration, 1, "00"},
    {"T14R", HexString, 2, "0000"},
    {"T15C", Enumeration, 1, "00"},
    {"T15L", Range, 2, "0001"},
    {"T15S", HexString, 1, "01"},
    {"T15T", Enumeration, 1, "00"},
    {"T15R", HexString, 2, "0000"},
    {"T1A1", HexString, 6, "000000000000"},
    {"T1A2", HexString, 6, "000000000000"},
    {"T1TO", EnumerationList, 10, "01000000000000000000"},
    {"T1SF", Enumeration, 1, "00"},
}};

constexpr ConfigItemDefinition definitionOf(const ItemRow& row, char formatDigit) {
    ConfigItemDefinition definition{makeConfigID(row.configID), row.kind, row.byteCount,
                                    row.defaultValue};
    if (formatDigit != '\0') definition.configID.characters[1] = formatDigit;
    return definition;
}

constexpr std::array<ConfigItemDefinition, kConfigItemCount> buildTable() {
    std::array<ConfigItemDefinition, kConfigItemCount> table{};
    std::size_t position = 0;
    for (const ItemRow& row : kGeneralItems) table[position++] = definitionOf(row, '\0');
    for (std::size_t format = 1; format <= kFormatCount; ++format) {
        for (const ItemRow& row : kFormatItems) {
            table[position++] = definitionOf(row, static_cast<char>('0' + format));
        }
    }
    return table;
}

}  // namespace config_table_detail

inline constexpr std::array<ConfigItemDefinition, kConfigItemCount> kConfigItemTable =
    config_table_detail::buildTable();

// Ids of format items built from format 1's id: "T1EN" becomes "T3EN" for
// format 3; field items also take the field digit, "T11C" becomes "T25C".
constexpr ConfigID formatItemId(std::string_view formatOneId, char formatDigit) {
    ConfigID id = makeConfigID(formatOneId);
    id.characters[1] = formatDigit;
    return id;
}

constexpr ConfigID fieldItemId(std::string_view formatOneId, char formatDigit, char fieldDigit) {
    ConfigID id = formatItemId(formatOneId, formatDigit);
    id.characters[2] = fieldDigit;
    return id;
}

}  // namespace zov::filters
