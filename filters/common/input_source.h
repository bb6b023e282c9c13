// Buffered input for the filters: large reads from a byte source, consumed by
// the line reader straight out of the buffer.
#pragma once

#include <array>
#include <cstddef>
#include <functional>
#include <span>

namespace zov::filters {

class InputSource {
  public:
    // Fills the buffer with what the source has ready; returns 0 at its end.
    using ReadFunction = std::function<std::size_t(unsigned char* buffer, std::size_t size)>;

    explicit InputSource(ReadFunction read);

    // The bytes read but not consumed, refilling first when there are none.
    // Empty once the source has ended; it is not read again after that.
    std::span<const unsigned char> available();
    void consume(std::size_t count) { begin_ += count; }

  private:
    ReadFunction read_;
    std::array<unsigned char, 64 * 1024> buffer_{};
    std::size_t begin_ = 0;
    std::size_t end_ = 0;
    bool ended_ = false;
};

}  // namespace zov::filters
