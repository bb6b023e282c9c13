#include "scriptgen/field_emitters.h"

#include <string_view>

#include "scriptgen/hex_values.h"

namespace zov::filters {

namespace {

// The items of one field of one format.
struct Field {
    const ConfigTable& config;
    ScriptWriter& writer;
    char formatDigit;
    char fieldDigit;

    std::string_view digit() const { return {&fieldDigit, 1}; }
    std::int32_t integer(std::string_view formatOneId) const {
        return config.getConfigCurInt(fieldItemId(formatOneId, formatDigit, fieldDigit).view());
    }
    std::string_view literal(std::string_view formatOneId) const {
        return config.getConfigCurQVEstr(fieldItemId(formatOneId, formatDigit, fieldDigit).view());
    }

    void heading(std::string_view kindName) const {
        writer.emit("\n\n# Field ");
        writer.emit(digit());
        writer.emit(kindName);
    }
    // Starts the statement "Fnstr = ".
    void assign() const {
        writer.emit("\nF");
        writer.emit(digit());
        writer.emit("str = ");
    }
    // "Fnstr = Fnstr + " and the value.
    void appendToField(std::string_view value) const {
        assign();
        writer.emit("F");
        writer.emit(digit());
        writer.emit("str + ");
        writer.emit(value);
    }
    // The characters appended to the field, when there are any.
    void appendTrailingCharacters() const {
        const std::string_view appended = literal("T11R");
        if (appended != kEmptyLiteral) appendToField(appended);
    }
};

}  // namespace

void emitSeparatorField(const ConfigTable& config, ScriptWriter& writer, char formatDigit,
                        char fieldDigit) {
    const Field field{config, writer, formatDigit, fieldDigit};
    const std::string_view appended = field.literal("T11R");
    field.heading(": Field Separator");
    writer.emit("\nFindex = FindSubStr(OUT1.Data, ");
    writer.emit(field.literal("T11S"));
    writer.emit(", Fstart)");
    writer.emit("\nif (Findex != 0)");
    writer.openBlock();
    writer.emit("\nF");
    writer.emit(field.digit());
    // A non-zero keep flag keeps the separator at the end of the field.
    if (field.integer("T11T") == 0) {
        writer.emit("str = Mid(OUT1.Data, Fstart, Findex - Fstart)");
    } else {
        writer.emit("str = Mid(OUT1.Data, Fstart, (Findex - Fstart) + 1)");
    }
    if (appended != kEmptyLiteral) {
        writer.emit(" + ");
        writer.emit(appended);
    }
    writer.emit("\nFstart = Findex+1");
    writer.closeBlock();
    writer.emit("\nelse");
    writer.openBlock();
    field.assign();
    writer.emit(appended);
    writer.closeBlock();
}

void emitLengthField(const ConfigTable& config, ScriptWriter& writer, char formatDigit,
                     char fieldDigit) {
    const Field field{config, writer, formatDigit, fieldDigit};
    field.heading(": Field Length");
    const std::int32_t length = field.integer("T11L");
    field.assign();
    if (length != 0) {
        writer.emit("Mid(OUT1.Data, Fstart, ");
        writer.emitNumber(length);
        writer.emit(")");
        writer.emit("\nFstart = Fstart + StrLen(F");
        writer.emit(field.digit());
        writer.emit("str)");
    } else {
        writer.emit("\"\"");
    }
    field.appendTrailingCharacters();
}

void emitMatchingField(const ConfigTable& config, ScriptWriter& writer, char formatDigit,
                       char fieldDigit) {
    const Field field{config, writer, formatDigit, fieldDigit};
    const std::string_view matching = field.literal("T11S");
    field.heading(": Field of Matching Characters");
    field.assign();
    writer.emit("\"\"");
    writer.emit("\nwhile (");
    writer.emit(matching);
    writer.emit(" == Mid(OUT1.Data, Fstart, 1))");
    writer.openBlock();
    field.appendToField(matching);
    writer.emit("\nFstart = Fstart + 1");
    writer.closeBlock();
    field.appendTrailingCharacters();
}

void emitLastField(const ConfigTable& config, ScriptWriter& writer, char formatDigit,
                   char fieldDigit) {
    const Field field{config, writer, formatDigit, fieldDigit};
    field.heading(": Last Field");
    field.assign();
    writer.emit("Mid(OUT1.Data, Fstart, (StrLen(OUT1.Data) - Fstart) + 1)");
    field.appendTrailingCharacters();
    writer.emit("\nFstart = StrLen(OUT1.Data)+1");
}

}  // namespace zov::filters
