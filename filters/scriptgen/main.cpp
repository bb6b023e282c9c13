// scriptgen: reads Advanced Formatting parameter lines from standard input
// and writes the equivalent QVE script to standard output.
#include "common/standard_streams.h"
#include "scriptgen/scriptgen.h"

int main() {
    using namespace zov::filters;
    prepareStandardStreams();
    static OutputSink output(writeStandardOutput);
    // What is written goes out before the filter waits for more input, so an
    // interactive session sees each answer at once.
    static InputSource input([](unsigned char* buffer, std::size_t size) {
        (void)output.flush();
        return readStandardInput(buffer, size);
    });
    return runScriptgen(input, output);
}
