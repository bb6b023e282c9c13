// Symbology names by data-type code, each a quoted QVE string literal.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace zov::filters {

inline constexpr std::array<std::string_view, 58> kDataTypeNames{
    "",
    "\"ABC_Codabar\"",
    "\"Anker\"",
    "\"Aztec\"",
    "\"BC412\"",
    "\"Code39_CIP\"",
    "\"Codabar\"",
    "\"CodablockF\"",
    "\"Code11\"",
    "\"Code16K\"",
    "\"Code128\"",
    "\"PharmaC39\"",
    "\"Code39\"",
    "\"Code4\"",
    "\"Code49\"",
    "\"Code5\"",
    "\"Code93\"",
    "\"C2of5\"",
    "\"D2of5\"",
    "\"Datamatrix\"",
    "\"EAN128\"",
    "\"EAN13\"",
    "\"EAN13P2\"",
    "\"EAN13P5\"",
    "\"EAN8\"",
    "\"EAN8P2\"",
    "\"EAN8P5\"",
    "\"Follett2of5\"",
    "\"RSSExp\"",
    "\"RSSExpComp\"",
    "\"RSSLim\"",
    "\"RSSLimComp\"",
    "\"RSS14\"",
    "\"RSS14Comp\"",
    "\"GTIN\"",
    "\"GTINP2\"",
    "\"GTINP5\"",
    "\"IATA\"",
    "\"I2of5\"",
    "\"I2OF5_CIP\"",
    "\"IND2of5\"",
    "\"ISBN\"",
    "\"ISBT\"",
    "\"ISSN\"",
    "\"M2of5\"",
    "\"Maxicode\"",
    "\"MicroPDF\"",
    "\"MSIPlessey\"",
    "\"PDF417\"",
    "\"Plessey\"",
    "\"QRCode\"",
    "\"S2of5\"",
    "\"UPCA\"",
    "\"UPCAP2\"",
    "\"UPCAP5\"",
    "\"UPCE\"",
    "\"UPCEP2\"",
    "\"UPCEP5\"",
};

// The quoted name of a data-type code. Code 0 has no name and codes outside
// the table have none either: for them the empty literal "" is written, so
// the script stays well-formed and names no symbology.
constexpr std::string_view dataTypeName(std::int32_t code) {
    if (code <= 0 || code >= static_cast<std::int32_t>(kDataTypeNames.size())) return "\"\"";
    return kDataTypeNames[static_cast<std::size_t>(code)];
}

}  // namespace zov::filters
