#include "common/output_sink.h"

#include <cstring>
#include <utility>

namespace zov::filters {

OutputSink::OutputSink(WriteFunction write) : write_(std::move(write)) {}

OutputSink::~OutputSink() {
    (void)flush();
}

void OutputSink::write(std::string_view text) {
    if (text.size() > buffer_.size() - used_) {
        (void)flush();
        if (text.size() >= buffer_.size()) {
            if (!failed_ && !write_(text)) failed_ = true;
            return;
        }
    }
    std::memcpy(buffer_.data() + used_, text.data(), text.size());
    used_ += text.size();
}

void OutputSink::put(char character) {
    if (used_ == buffer_.size()) (void)flush();
    buffer_[used_++] = character;
}

bool OutputSink::flush() {
    if (used_ != 0) {
        // After a failed write the rest is dropped rather than written out of order.
        if (!failed_ && !write_({buffer_.data(), used_})) failed_ = true;
        used_ = 0;
    }
    return !failed_;
}

}  // namespace zov::filters
