#include "common/console_filter.h"

#include "common/standard_streams.h"

namespace zov::filters {

int runOnStandardStreams(Filter filter) {
    prepareStandardStreams();
    OutputSink output(writeStandardOutput);
    // What is written goes out before the filter waits for more input, so an
    // interactive session sees each answer at once.
    InputSource input([&output](unsigned char* buffer, std::size_t size) {
        (void)output.flush();
        return readStandardInput(buffer, size);
    });
    return filter(input, output);
}

}  // namespace zov::filters
