// One format's section of the script: the match condition, the data
// adjustment, the character replacement, the fields, the transmit order and
// the closing statements.
#pragma once

#include "scriptgen/config_table.h"
#include "scriptgen/script_writer.h"

namespace zov::filters {

// formatDigit '1' to '4'. A format that is not enabled writes nothing.
void emitFormatLogic(const ConfigTable& config, ScriptWriter& writer, char formatDigit);

}  // namespace zov::filters
