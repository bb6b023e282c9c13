// scriptgen: reads Advanced Formatting parameter lines from standard input
// and writes the equivalent QVE script to standard output.
#include "common/standard_streams.h"
#include "scriptgen/scriptgen.h"

int main() {
    using namespace zov::filters;
    useBinaryStandardStreams();
    static InputSource input(readStandardInput);
    static OutputSink output(writeStandardOutput);
    return runScriptgen(input, output);
}
