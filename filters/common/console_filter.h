// The process frame of a console filter: standard input and output prepared,
// buffered and handed to the filter, whose result is the exit status.
#pragma once

#include "common/input_source.h"
#include "common/output_sink.h"

namespace zov::filters {

using Filter = int (*)(InputSource& input, OutputSink& output);

int runOnStandardStreams(Filter filter);

}  // namespace zov::filters
