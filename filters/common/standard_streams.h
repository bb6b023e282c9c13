// The filters' one contact with the platform: standard input and output as
// binary byte streams.
#pragma once

#include <cstddef>
#include <string_view>

namespace zov::filters {

// Puts standard input and output into binary mode where the platform knows a
// text mode. Call once before any other use of the streams.
void useBinaryStandardStreams();

// Reads what standard input has ready, at most size bytes, waiting only when
// nothing is ready. Returns 0 at the end of input, on a read error and when
// standard input is closed.
std::size_t readStandardInput(unsigned char* buffer, std::size_t size);

// Writes all of text to standard output; false when that failed.
bool writeStandardOutput(std::string_view text);

}  // namespace zov::filters
