#include "paramextract/paramextract.h"

#include <array>

#include "common/parameter_line_reader.h"

namespace zov::filters {

int runParamextract(InputSource& input, OutputSink& out) {
    ParameterLineReader reader(input, kParamextractLineLimit);
    if (!reader.hasLineBuffer()) {
        out.write(kLineBufferAllocationMessage);
        (void)out.flush();
        return 1;
    }
    // Each accepted line is written as soon as it is read.
    std::array<char, kParamextractLineLimit + 1> text;
    while (const std::size_t length = reader.readParameterLine(text)) {
        out.write("\n");
        out.write(kParameterLinePrefix);
        out.write({text.data(), length});
    }
    out.write(kEndOfTransmissionLine);
    return out.flush() ? 0 : 1;
}

}  // namespace zov::filters
