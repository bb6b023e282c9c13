#include "common/input_source.h"

#include <utility>

namespace zov::filters {

InputSource::InputSource(ReadFunction read) : read_(std::move(read)) {}

std::span<const unsigned char> InputSource::available() {
    if (begin_ == end_ && !ended_) {
        begin_ = 0;
        end_ = read_(buffer_.data(), buffer_.size());
        if (end_ > buffer_.size()) end_ = 0;  // a source that claims more than it was given
        ended_ = end_ == 0;
    }
    return {buffer_.data() + begin_, end_ - begin_};
}

}  // namespace zov::filters
