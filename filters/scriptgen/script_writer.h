// The indenting writer through which every piece of the script is written:
// line breaks in a fragment are followed by one tab per open block.
#pragma once

#include <cstdint>
#include <string_view>

#include "common/output_sink.h"

namespace zov::filters {

class ScriptWriter {
  public:
    explicit ScriptWriter(OutputSink& out) : out_(out) {}

    // Writes fragment; every run of line feeds and carriage returns becomes
    // as many line feeds followed by the indentation.
    void emit(std::string_view fragment);
    // Decimal, with no indentation handling.
    void emitNumber(std::int32_t value);
    // "\n{", then one level deeper.
    void openBlock();
    // One level shallower (not below 0), then "\n}".
    void closeBlock();

    unsigned level() const { return level_; }

  private:
    OutputSink& out_;
    unsigned level_ = 0;
};

}  // namespace zov::filters
