// The concatenation section of the script: joins a first and a second label
// into one, keeping a waiting label in memory slot "CNld1" or "CNld2", with an
// optional time-out for a label that waits alone.
#pragma once

#include "scriptgen/config_table.h"
#include "scriptgen/script_writer.h"

namespace zov::filters {

// Writes nothing unless CNEN is 1.
void emitConcatenationLogic(const ConfigTable& config, ScriptWriter& writer);

}  // namespace zov::filters
