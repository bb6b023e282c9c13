// The field sections of a format: each cuts one field (F1str to F5str) out of
// the label data from position Fstart on, by separator, length, a run of
// matching characters, or up to the end of the data.
#pragma once

#include "scriptgen/config_table.h"
#include "scriptgen/script_writer.h"

namespace zov::filters {

// formatDigit '1' to '4', fieldDigit '1' to '5'.
void emitSeparatorField(const ConfigTable& config, ScriptWriter& writer, char formatDigit,
                        char fieldDigit);
void emitLengthField(const ConfigTable& config, ScriptWriter& writer, char formatDigit,
                     char fieldDigit);
void emitMatchingField(const ConfigTable& config, ScriptWriter& writer, char formatDigit,
                       char fieldDigit);
void emitLastField(const ConfigTable& config, ScriptWriter& writer, char formatDigit,
                   char fieldDigit);

}  // namespace zov::filters
