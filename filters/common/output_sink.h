// Buffered output for the filters: everything a filter writes goes through one
// sink, so messages and script text keep their order.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <string_view>

namespace zov::filters {

class OutputSink {
  public:
    // Writes all of text; false when that failed.
    using WriteFunction = std::function<bool(std::string_view text)>;

    explicit OutputSink(WriteFunction write);
    OutputSink(const OutputSink&) = delete;
    OutputSink& operator=(const OutputSink&) = delete;
    ~OutputSink();

    void write(std::string_view text);
    void put(char character);
    // Hands the buffered text on; false when any write so far has failed.
    [[nodiscard]] bool flush();

  private:
    WriteFunction write_;
    std::array<char, 64 * 1024> buffer_{};
    std::size_t used_ = 0;
    bool failed_ = false;
};

}  // namespace zov::filters
