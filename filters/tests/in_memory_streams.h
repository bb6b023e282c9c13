// Filter input and output held in memory, for driving the reader and the
// emitters without processes.
#pragma once

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "common/input_source.h"
#include "common/output_sink.h"

namespace zov::filters::testing {

// Hands out text in pieces of at most chunkSize bytes and counts what it
// handed out.
class TextSource {
  public:
    explicit TextSource(std::string text, std::size_t chunkSize = std::string::npos)
        : state_(std::make_shared<State>(State{std::move(text), chunkSize, 0})) {}

    InputSource::ReadFunction reader() const {
        return [state = state_](unsigned char* buffer, std::size_t size) {
            const std::size_t count =
                std::min({size, state->chunkSize, state->text.size() - state->handedOut});
            std::memcpy(buffer, state->text.data() + state->handedOut, count);
            state->handedOut += count;
            return count;
        };
    }
    std::size_t handedOut() const { return state_->handedOut; }

  private:
    struct State {
        std::string text;
        std::size_t chunkSize;
        std::size_t handedOut;
    };
    std::shared_ptr<State> state_;
};

class CapturedOutput {
  public:
    CapturedOutput() = default;
    CapturedOutput(const CapturedOutput&) = delete;
    CapturedOutput& operator=(const CapturedOutput&) = delete;

    OutputSink& sink() { return sink_; }
    const std::string& text() {
        (void)sink_.flush();
        return text_;
    }

  private:
    std::string text_;
    OutputSink sink_{[this](std::string_view text) {
        text_.append(text);
        return true;
    }};
};

}  // namespace zov::filters::testing
