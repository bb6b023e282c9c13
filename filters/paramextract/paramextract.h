// paramextract's run: any text in, only its parameter lines out, in input
// order, ended by the end-of-transmission line.
#pragma once

#include <cstddef>

#include "common/input_source.h"
#include "common/output_sink.h"

namespace zov::filters {

inline constexpr std::size_t kParamextractLineLimit = 900;

// Returns the exit status: 0, or 1 when the line buffer could not be
// allocated or the output could not be written.
int runParamextract(InputSource& input, OutputSink& out);

}  // namespace zov::filters
