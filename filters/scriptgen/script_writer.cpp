#include "scriptgen/script_writer.h"

#include <charconv>
#include <limits>

namespace zov::filters {

namespace {

bool isLineBreak(char character) {
    return character == '\n' || character == '\r';
}

}  // namespace

void ScriptWriter::emit(std::string_view fragment) {
    std::size_t at = 0;
    while (at < fragment.size()) {
        bool lineBreakWritten = false;
        for (; at < fragment.size() && isLineBreak(fragment[at]); ++at) {
            out_.put('\n');
            lineBreakWritten = true;
        }
        if (lineBreakWritten) {
            for (unsigned tab = 0; tab < level_; ++tab) out_.put('\t');
        }
        const std::size_t start = at;
        while (at < fragment.size() && !isLineBreak(fragment[at])) ++at;
        out_.write(fragment.substr(start, at - start));
    }
}

void ScriptWriter::emitNumber(std::int32_t value) {
    char digits[std::numeric_limits<std::int32_t>::digits10 + 2];
    const auto result = std::to_chars(std::begin(digits), std::end(digits), value);
    out_.write({digits, static_cast<std::size_t>(result.ptr - digits)});
}

void ScriptWriter::openBlock() {
    emit("\n{");
    ++level_;
}

void ScriptWriter::closeBlock() {
    if (level_ > 0) --level_;
    emit("\n}");
}

}  // namespace zov::filters
