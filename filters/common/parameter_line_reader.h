// The input stage of both filters: picks the parameter lines ("$C", a
// four-character ConfigID, a hexadecimal value) out of a text that ends with
// the end-of-transmission character.
#pragma once

#include <cstddef>
#include <memory>
#include <span>
#include <string_view>

#include "common/input_source.h"

namespace zov::filters {

inline constexpr char kEndOfTransmission = 4;
inline constexpr std::string_view kParameterLinePrefix = "$C";
// The last line of either filter's output.
inline constexpr std::string_view kEndOfTransmissionLine = "\n\x04\n";
inline constexpr std::string_view kLineBufferAllocationMessage =
    "\nNot enough memory to allocate line buffer\n";

class ParameterLineReader {
  public:
    // maxLength is the longest parameter text handed back; a physical line
    // longer than maxLength + 2 characters is read as several lines.
    ParameterLineReader(InputSource& input, std::size_t maxLength);

    // False when the line buffer could not be allocated; the reader then
    // reads nothing.
    [[nodiscard]] bool hasLineBuffer() const { return line_ != nullptr; }

    // Copies the text after "$C" of the next accepted line (at least 8
    // characters, starting with "$C") into out, NUL-terminated, and returns
    // its length; returns 0 once the input is over. out must hold
    // maxLength + 1 characters.
    std::size_t readParameterLine(std::span<char> out);

  private:
    enum class LineEnd { LineBreak, BufferFull, EndOfTransmission, EndOfInput };

    bool skipToLineStart();
    LineEnd readLine(std::size_t& length);

    InputSource& input_;
    std::size_t capacity_;
    std::unique_ptr<char[]> line_;
    bool inputOver_ = false;
};

}  // namespace zov::filters
