// paramextract: copies the parameter lines of standard input to standard
// output, so that a generated script turns back into its parameters.
#include "common/console_filter.h"
#include "paramextract/paramextract.h"

int main() {
    return zov::filters::runOnStandardStreams(zov::filters::runParamextract);
}
