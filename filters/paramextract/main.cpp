// paramextract: copies the parameter lines of standard input to standard
// output, so that a generated script turns back into its parameters.
#include "common/standard_streams.h"
#include "paramextract/paramextract.h"

int main() {
    using namespace zov::filters;
    useBinaryStandardStreams();
    static InputSource input(readStandardInput);
    static OutputSink output(writeStandardOutput);
    return runParamextract(input, output);
}
