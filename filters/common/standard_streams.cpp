#include "common/standard_streams.h"

#include <cerrno>
#include <cstdio>

// The platform-specific part. std::fread waits until its whole request is
// filled, which would keep an interactive session waiting after its
// end-of-transmission character; the raw read hands over what has arrived.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
namespace {
// A console read of a large buffer can fail on older Windows (the console
// host's buffer is small); 16 KiB per read is safe and costs nothing on pipes.
constexpr std::size_t kLargestRead = 16 * 1024;
long readRaw(unsigned char* buffer, std::size_t size) {
    return _read(0, buffer, static_cast<unsigned>(size < kLargestRead ? size : kLargestRead));
}
// Standard input is read in binary (the reader skips carriage returns itself,
// and text mode would end the input at a Ctrl-Z byte); standard output keeps
// the console text convention, so every line feed is written as CR LF.
void setStreamModes() {
    _setmode(_fileno(stdin), _O_BINARY);
}
}  // namespace
#else
#include <unistd.h>
namespace {
long readRaw(unsigned char* buffer, std::size_t size) {
    return ::read(0, buffer, size);
}
void setStreamModes() {}
}  // namespace
#endif

namespace zov::filters {

void prepareStandardStreams() {
    setStreamModes();
}

std::size_t readStandardInput(unsigned char* buffer, std::size_t size) {
    for (;;) {
        const long count = readRaw(buffer, size);
        if (count > 0) return static_cast<std::size_t>(count);
        if (count < 0 && errno == EINTR) continue;
        return 0;
    }
}

bool writeStandardOutput(std::string_view text) {
    return std::fwrite(text.data(), 1, text.size(), stdout) == text.size() &&
           std::fflush(stdout) == 0;
}

}  // namespace zov::filters
