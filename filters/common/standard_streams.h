// The filters' one contact with the platform: standard input as a binary byte
// stream, standard output as the platform writes console text.
#pragma once

#include <cstddef>
#include <string_view>

namespace zov::filters {

// Puts standard input into binary mode where the platform knows a text mode;
// standard output keeps the platform's text convention (CR LF on Windows,
// unchanged elsewhere). Call once before any other use of the streams.
void prepareStandardStreams();

// Reads what standard input has ready, at most size bytes, waiting only when
// nothing is ready. Returns 0 at the end of input, on a read error and when
// standard input is closed.
std::size_t readStandardInput(unsigned char* buffer, std::size_t size);

// Writes all of text to standard output; false when that failed.
bool writeStandardOutput(std::string_view text);

}  // namespace zov::filters
