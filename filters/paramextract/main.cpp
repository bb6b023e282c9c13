// paramextract: copies the parameter lines of standard input to standard
// output, so that a generated script turns back into its parameters.
#include "common/standard_streams.h"
#include "paramextract/paramextract.h"

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
    return runParamextract(input, output);
}
