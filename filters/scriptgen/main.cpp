// scriptgen: reads Advanced Formatting parameter lines from standard input
// and writes the equivalent QVE script to standard output.
#include "common/console_filter.h"
#include "scriptgen/scriptgen.h"

int main() {
    return zov::filters::runOnStandardStreams(zov::filters::runScriptgen);
}
