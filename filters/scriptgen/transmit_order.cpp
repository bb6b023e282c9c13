#include "scriptgen/transmit_order.h"

#include <algorithm>

#include "scriptgen/hex_values.h"

namespace zov::filters {

namespace {

constexpr unsigned char kEmptySlot = 0;

// Codes above 10 have no name and are skipped like empty slots, in the data
// and in the length sum alike.
bool isTransmitted(unsigned char code) {
    return code != kEmptySlot && code < kTransmitItemNames.size();
}

void emitAdditionalString(const ConfigTable& config, ScriptWriter& writer, char formatDigit,
                          std::string_view formatOneId, std::string_view assignment) {
    const std::string_view literal =
        config.getConfigCurQVEstr(formatItemId(formatOneId, formatDigit).view());
    if (literal == kEmptyLiteral) return;
    writer.emit(assignment);
    writer.emit(literal);
}

}  // namespace

void emitTransmitOrder(const ConfigTable& config, ScriptWriter& writer, char formatDigit) {
    const std::string_view codes =
        config.getConfigCurQVEstr(formatItemId("T1TO", formatDigit).view());
    writer.emit("\n\n# Format ");
    writer.emit({&formatDigit, 1});
    writer.emit(" Transmit Order");
    emitAdditionalString(config, writer, formatDigit, "T1A1", "\nAF1str = ");
    emitAdditionalString(config, writer, formatDigit, "T1A2", "\nAF2str = ");

    const auto code = [](char element) { return static_cast<unsigned char>(element); };
    if (std::any_of(codes.begin(), codes.end(),
                    [&](char element) { return code(element) == kTransmitLengthCode; })) {
        writer.emit("\nTxLen = 0");
        for (const char element : codes) {
            if (!isTransmitted(code(element)) || code(element) == kTransmitLengthCode) continue;
            writer.emit(" + StrLen(");
            writer.emit(kTransmitItemNames[code(element)]);
            writer.emit(")");
        }
    }
    writer.emit("\nOUT1.Data = \"\"");
    for (const char element : codes) {
        if (!isTransmitted(code(element))) continue;
        writer.emit(" + ");
        writer.emit(kTransmitItemNames[code(element)]);
    }
}

}  // namespace zov::filters
