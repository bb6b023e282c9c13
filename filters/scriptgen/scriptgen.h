// scriptgen's run: parameter lines in, QVE script out, ended by a trailer
// that repeats every parameter that differs from its default.
#pragma once

#include "common/input_source.h"
#include "common/output_sink.h"
#include "scriptgen/config_table.h"
#include "scriptgen/script_writer.h"

namespace zov::filters {

inline constexpr std::size_t kScriptgenLineLimit = 100;

// The script body between the header and the trailer, for converted values.
void emitScriptBody(const ConfigTable& config, ScriptWriter& writer);
// The changed items in table order as parameter lines, and the end line.
void writeTrailer(const ConfigTable& config, OutputSink& out);

// The whole run; returns the exit status: 0, or 1 after a fatal error (line
// buffer allocation, lookup failure) or when the output could not be written.
int runScriptgen(InputSource& input, OutputSink& out);

}  // namespace zov::filters
