#include "scriptgen/concatenation_logic.h"

#include <string_view>

#include "scriptgen/data_type_names.h"

namespace zov::filters {

namespace {

// What CNTT says to pass on when the time-out expires.
enum TimeoutTransmit : std::int32_t {
    kDropWaiting = 0,
    kFirstLabel = 1,
    kSecondLabel = 2,
    kFirstOrSecondLabel = 3,
};

// A label's recognition criteria: data-type code and data length, 0 = any.
struct LabelCriterion {
    std::int32_t dataType;
    std::int32_t dataLength;

    bool any() const { return dataType != 0 || dataLength != 0; }
    bool operator==(const LabelCriterion&) const = default;
};

// The criterion and the ")" that closes the "if (" written before it.
void emitCriterion(ScriptWriter& writer, const LabelCriterion& label) {
    if (label.dataType != 0) {
        writer.emit("(OUT1.DataType == ");
        writer.emit(dataTypeName(label.dataType));
        writer.emit(")");
    }
    if (label.dataType != 0 && label.dataLength != 0) writer.emit(" && ");
    if (label.dataLength != 0) {
        writer.emit("(OUT1.DataLen == ");
        writer.emitNumber(label.dataLength);
        writer.emit(")");
    }
    writer.emit(")");
}

// A label that belongs behind a waiting first label; saved under saveName
// when none waits.
void emitPrependBlock(ScriptWriter& writer, std::string_view saveName) {
    writer.emit("\nif (IsInMemory(\"CNld1\") == 1)");
    writer.openBlock();
    writer.emit("\nOUT1.Data = RestoreStr(\"CNld1\") + OUT1.Data");
    writer.emit("\nCNtx=1");
    writer.closeBlock();
    writer.emit("\nelse");
    writer.openBlock();
    writer.emit("\nFreeMemory()");
    writer.emit("\nSaveStr(OUT1.Data, \"");
    writer.emit(saveName);
    writer.emit("\")");
    writer.emit("\nCNsave=1");
    writer.closeBlock();
}

// A label that belongs in front of a waiting second label.
void emitAppendBlock(ScriptWriter& writer) {
    writer.emit("\nif (IsInMemory(\"CNld2\") == 1)");
    writer.openBlock();
    writer.emit("\nOUT1.Data = OUT1.Data + RestoreStr(\"CNld2\")");
    writer.emit("\nCNtx=1");
    writer.closeBlock();
    writer.emit("\nelse");
    writer.openBlock();
    writer.emit("\nFreeMemory()");
    writer.emit("\nSaveStr(OUT1.Data, \"CNld1\")");
    writer.emit("\nCNsave=1");
    writer.closeBlock();
}

// Opens the else block of the time-out branch; the caller closes it.
void emitTimeoutBranch(ScriptWriter& writer, std::int32_t timeoutTransmit) {
    // A CNTT above 3 names nothing to pass on and would leave an else without
    // its if; it is handled like 0: what waits is dropped.
    if (timeoutTransmit > kFirstOrSecondLabel) timeoutTransmit = kDropWaiting;

    writer.emit("\nif (OUT1.DataType == \"TimerExpired\")");
    writer.openBlock();
    if (timeoutTransmit == kFirstLabel || timeoutTransmit == kFirstOrSecondLabel) {
        writer.emit("\nif (IsInMemory(\"CNld1\") == 1)");
        writer.openBlock();
        writer.emit("\nOUT1.Data = RestoreStr(\"CNld1\")");
        writer.emit("\nCNtx=1");
        writer.closeBlock();
    }
    if (timeoutTransmit == kSecondLabel || timeoutTransmit == kFirstOrSecondLabel) {
        writer.emit(timeoutTransmit == kSecondLabel ? "\nif (IsInMemory(\"CNld2\") == 1)"
                                                    : "\nelseif (IsInMemory(\"CNld2\") == 1)");
        writer.openBlock();
        writer.emit("\nOUT1.Data = RestoreStr(\"CNld2\")");
        writer.emit("\nCNtx=1");
        writer.closeBlock();
    }
    if (timeoutTransmit != kDropWaiting) {
        writer.emit("\nelse");
        writer.openBlock();
    }
    writer.emit("\nmatch=1");
    writer.emit("\nFreeMemory()");
    writer.emit("\nSetNextLabel()");
    writer.emit("\nexit");
    if (timeoutTransmit != kDropWaiting) writer.closeBlock();
    writer.closeBlock();
    writer.emit("\nelse");
    writer.openBlock();
}

void emitLabelRecognition(ScriptWriter& writer, const LabelCriterion& first,
                          const LabelCriterion& second) {
    if (first == second) {
        // Any two labels that meet the one criterion in a row are joined.
        if (first.any()) {
            writer.emit("\nif (");
            emitCriterion(writer, first);
            writer.openBlock();
        }
        emitPrependBlock(writer, "CNld1");
        if (first.any()) writer.closeBlock();
        return;
    }
    if (first.any()) {
        writer.emit("\nif (");
        emitCriterion(writer, first);
        writer.openBlock();
        emitAppendBlock(writer);
        writer.closeBlock();
    }
    if (first.any() && second.any()) {
        writer.emit("\nelseif (");
    } else if (first.any()) {
        writer.emit("\nelse");
    } else {
        writer.emit("\nif (");
    }
    if (second.any()) emitCriterion(writer, second);
    writer.openBlock();
    emitPrependBlock(writer, "CNld2");
    writer.closeBlock();
    if (!first.any()) {
        writer.emit("\nelse");
        writer.openBlock();
        emitAppendBlock(writer);
        writer.closeBlock();
    }
}

}  // namespace

void emitConcatenationLogic(const ConfigTable& config, ScriptWriter& writer) {
    if (config.getConfigCurInt("CNEN") != 1) return;
    const LabelCriterion first{config.getConfigCurInt("CNT1"), config.getConfigCurInt("CNL1")};
    const LabelCriterion second{config.getConfigCurInt("CNT2"), config.getConfigCurInt("CNL2")};
    const std::int32_t timeout = config.getConfigCurInt("CNTO");

    writer.emit("\n\n# Concatenation logic");
    writer.emit("\nCNtx=0");
    writer.emit("\nCNsave=0");
    if (timeout != 0) emitTimeoutBranch(writer, config.getConfigCurInt("CNTT"));
    emitLabelRecognition(writer, first, second);
    if (timeout != 0) writer.closeBlock();

    writer.emit("\n\nif (CNsave == 1)");
    writer.openBlock();
    writer.emit("\nSpecialBeep(1, 0, 2, 2, 3)");
    if (timeout != 0) {
        writer.emit("\nStartTimer(OUT1, ");
        writer.emitNumber(timeout * 10);
        writer.emit(")");
    }
    writer.emit("\nSetNextLabel()");
    writer.emit("\nexit");
    writer.closeBlock();

    writer.emit("\nelseif (CNtx == 1)");
    writer.openBlock();
    writer.emit("\nOUT1.DataType = ");
    writer.emit(dataTypeName(config.getConfigCurInt("CNRT")));
    writer.emit("\nOUT1.DataLen=StrLen(OUT1.Data)");
    writer.emit("\nOUT1.BaseLen=OUT1.DataLen");
    writer.emit("\n\nDoSLF(OUT1)");
    writer.emit("\nFreeMemory()");
    writer.emit("\nmatch=1");
    writer.closeBlock();

    writer.emit("\nelse");
    writer.openBlock();
    writer.closeBlock();
}

}  // namespace zov::filters
