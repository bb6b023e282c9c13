#include "common/parameter_line_reader.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <new>

namespace zov::filters {

namespace {

constexpr unsigned char kLineFeed = 10;
constexpr unsigned char kCarriageReturn = 13;
constexpr std::size_t kShortestParameterLine = 8;  // "$C", ConfigID, two digits

constexpr std::array<bool, 256> kEndsLine = [] {
    std::array<bool, 256> table{};
    table[kLineFeed] = table[kCarriageReturn] = table[kEndOfTransmission] = true;
    return table;
}();

// Blank lines, either line-ending convention and non-ASCII bytes in front of
// a line (a byte-order mark) are passed over.
constexpr std::array<bool, 256> kSkippedBeforeLine = [] {
    std::array<bool, 256> table{};
    table[kLineFeed] = table[kCarriageReturn] = true;
    for (std::size_t code = 128; code < table.size(); ++code) table[code] = true;
    return table;
}();

}  // namespace

// The line buffer is allocated once per reader rather than once per line: the
// same bound, without an allocation for every line of a large input.
ParameterLineReader::ParameterLineReader(InputSource& input, std::size_t maxLength)
    : input_(input), capacity_(maxLength + 2), line_(new (std::nothrow) char[maxLength + 2]) {}

std::size_t ParameterLineReader::readParameterLine(std::span<char> out) {
    if (!hasLineBuffer() || out.size() + 1 < capacity_) return 0;
    while (!inputOver_) {
        if (!skipToLineStart()) break;
        std::size_t length = 0;
        switch (readLine(length)) {
            case LineEnd::EndOfTransmission:  // the partial line is discarded
                inputOver_ = true;
                return 0;
            case LineEnd::EndOfInput:
                // Input that ends without the end-of-transmission character:
                // its last line counts as if it had ended with a line feed.
                inputOver_ = true;
                break;
            case LineEnd::LineBreak:
            case LineEnd::BufferFull:
                break;
        }
        if (length >= kShortestParameterLine &&
            std::string_view(line_.get(), 2) == kParameterLinePrefix) {
            const std::size_t textLength = length - kParameterLinePrefix.size();
            std::memcpy(out.data(), line_.get() + kParameterLinePrefix.size(), textLength);
            out[textLength] = '\0';
            return textLength;
        }
    }
    return 0;
}

// Passes over what stands before a line. False when the input is over: the
// end-of-transmission character came first, or the input ended.
bool ParameterLineReader::skipToLineStart() {
    for (;;) {
        const auto bytes = input_.available();
        if (bytes.empty()) {
            inputOver_ = true;
            return false;
        }
        const auto start = std::find_if_not(bytes.begin(), bytes.end(),
                                            [](unsigned char c) { return kSkippedBeforeLine[c]; });
        input_.consume(static_cast<std::size_t>(start - bytes.begin()));
        if (start == bytes.end()) continue;
        if (*start == kEndOfTransmission) {
            input_.consume(1);
            inputOver_ = true;
            return false;
        }
        return true;
    }
}

// Stores the line's characters up to its line break (not stored), the
// end-of-transmission character or a full buffer.
ParameterLineReader::LineEnd ParameterLineReader::readLine(std::size_t& length) {
    length = 0;
    for (;;) {
        const auto bytes = input_.available();
        if (bytes.empty()) return LineEnd::EndOfInput;
        const std::size_t room = std::min(bytes.size(), capacity_ - length);
        std::size_t count = 0;
        while (count < room && !kEndsLine[bytes[count]]) ++count;
        std::memcpy(line_.get() + length, bytes.data(), count);
        length += count;
        input_.consume(count);
        if (count < room) {
            input_.consume(1);
            return bytes[count] == kEndOfTransmission ? LineEnd::EndOfTransmission
                                                      : LineEnd::LineBreak;
        }
        if (length == capacity_) return LineEnd::BufferFull;
    }
}

}  // namespace zov::filters
