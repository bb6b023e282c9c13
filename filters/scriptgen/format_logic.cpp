#include "scriptgen/format_logic.h"

#include <string_view>

#include "scriptgen/data_type_names.h"
#include "scriptgen/field_emitters.h"
#include "scriptgen/hex_values.h"
#include "scriptgen/transmit_order.h"

namespace zov::filters {

namespace {

enum AdjustmentType : std::int32_t { kAppend = 0, kPrepend = 1, kStripEnd = 2, kStripBegin = 3 };

enum FieldKind : std::int32_t { kSeparator = 1, kLength = 2, kMatching = 3, kLast = 4 };

// The items of one format.
struct Format {
    const ConfigTable& config;
    ScriptWriter& writer;
    char formatDigit;

    std::string_view digit() const { return {&formatDigit, 1}; }
    std::int32_t integer(std::string_view formatOneId) const {
        return config.getConfigCurInt(formatItemId(formatOneId, formatDigit).view());
    }
    std::string_view literal(std::string_view formatOneId) const {
        return config.getConfigCurQVEstr(formatItemId(formatOneId, formatDigit).view());
    }
    void heading(std::string_view sectionName) const {
        writer.emit("\n\n# Format ");
        writer.emit(digit());
        writer.emit(sectionName);
    }
};

void emitCondition(const Format& format) {
    ScriptWriter& writer = format.writer;
    const std::int32_t matchType = format.integer("T1MT");
    const std::int32_t matchLength = format.integer("T1ML");
    const std::int32_t matchPosition = format.integer("T1MP");
    const std::string_view matchCharacters = format.literal("T1MC");
    const bool charactersSet = matchCharacters != kEmptyLiteral;

    if (matchType == 0 && matchLength == 0 && !charactersSet) {
        writer.emit("1");
        return;
    }
    if (matchType != 0) {
        writer.emit("(OUT1.DataType == ");
        writer.emit(dataTypeName(matchType));
        writer.emit(")");
        if (matchLength != 0 || charactersSet) writer.emit(" && ");
    }
    if (matchLength != 0) {
        writer.emit("(OUT1.DataLen == ");
        writer.emitNumber(matchLength);
        writer.emit(")");
        if (charactersSet) writer.emit(" && ");
    }
    if (charactersSet && matchPosition == 0) {
        writer.emit("(0 != FindSubStr(OUT1.Data, ");
        writer.emit(matchCharacters);
        writer.emit(", 1))");
    } else if (charactersSet) {
        writer.emit("(");
        writer.emitNumber(matchPosition);
        writer.emit(" == FindSubStr(OUT1.Data, ");
        writer.emit(matchCharacters);
        writer.emit(", ");
        writer.emitNumber(matchPosition);
        writer.emit("))");
    }
}

// The characters between the literal's quotes; the literal never holds a
// quote of its own (it is written as \x22).
std::string_view literalContent(std::string_view literal) {
    if (literal.size() < 2) return {};
    const std::string_view inner = literal.substr(1);
    return inner.substr(0, inner.find('"'));
}

void emitRepeated(ScriptWriter& writer, std::string_view text, std::int32_t count) {
    for (std::int32_t repetition = 0; repetition < count; ++repetition) writer.emit(text);
}

void emitDataAdjustment(const Format& format) {
    if (format.integer("T1AE") != 1) return;
    ScriptWriter& writer = format.writer;
    format.heading(" Data Adjustment");
    const std::int32_t type = format.integer("T1AT");
    const std::int32_t count = format.integer("T1AN");
    switch (type) {
        case kAppend:
            writer.emit("\nOUT1.Data = OUT1.Data + \"");
            emitRepeated(writer, literalContent(format.literal("T1AC")), count);
            writer.emit("\"");
            break;
        case kPrepend:
            writer.emit("\nOUT1.Data = \"");
            emitRepeated(writer, literalContent(format.literal("T1AC")), count);
            writer.emit("\" + OUT1.Data");
            break;
        case kStripEnd:
            writer.emit("\nStripBeginEndChars(OUT1, 0, ");
            writer.emitNumber(count);
            writer.emit(")");
            break;
        case kStripBegin:
            writer.emit("\nStripBeginEndChars(OUT1, ");
            writer.emitNumber(count);
            writer.emit(", 0)");
            break;
        default:  // any other type: the heading alone
            break;
    }
}

void emitCharacterReplacement(const Format& format) {
    if (format.integer("T1RE") != 1) return;
    ScriptWriter& writer = format.writer;
    format.heading(" Character Replacement");
    writer.emit("\nnewStr = OUT1.Data");
    writer.emit("\nwhile (newStr != \"\")");
    writer.openBlock();
    writer.emit("\nOUT1.Data = newStr");
    writer.emit("\nnewStr = StrSubstitute(newStr, ");
    writer.emit(format.literal("T1RR"));
    writer.emit(", ");
    writer.emit(format.literal("T1RF"));
    writer.emit(")");
    writer.closeBlock();
}

void emitFields(const Format& format) {
    for (char fieldDigit = '1'; fieldDigit <= '5'; ++fieldDigit) {
        const auto kind = format.config.getConfigCurInt(
            fieldItemId("T11C", format.formatDigit, fieldDigit).view());
        switch (kind) {
            case kSeparator:
                emitSeparatorField(format.config, format.writer, format.formatDigit, fieldDigit);
                break;
            case kLength:
                emitLengthField(format.config, format.writer, format.formatDigit, fieldDigit);
                break;
            case kMatching:
                emitMatchingField(format.config, format.writer, format.formatDigit, fieldDigit);
                break;
            case kLast:
                emitLastField(format.config, format.writer, format.formatDigit, fieldDigit);
                break;
            default:  // 0 and unknown kinds: no section
                break;
        }
    }
}

}  // namespace

void emitFormatLogic(const ConfigTable& config, ScriptWriter& writer, char formatDigit) {
    const Format format{config, writer, formatDigit};
    if (format.integer("T1EN") != 1) return;
    format.heading(" Logic");
    writer.emit("\n");
    writer.emit("if (");
    emitCondition(format);
    writer.emit(")");
    writer.openBlock();
    writer.emit("\nmatch=1");
    emitDataAdjustment(format);
    emitCharacterReplacement(format);
    writer.emit("\n\nFstart = 1");
    emitFields(format);
    emitTransmitOrder(config, writer, formatDigit);
    writer.emit("\nOUT1.DataLen=StrLen(OUT1.Data)");
    writer.emit("\nOUT1.BaseLen=OUT1.DataLen");
    writer.emit(format.integer("T1SF") == 1 ? "\n\nDoSLF(OUT1)" : "\n\nNoSLF(OUT1)");
    writer.closeBlock();
}

}  // namespace zov::filters
