// The screen a capture decodes into and, when there is a log, the transcript
// that takes each row leaving its top: vtsnap's capture loop and vtsnap-render
// wire the two together through this, in the same way.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>

#include "snapshot/output_file.hpp"
#include "snapshot/transcript.hpp"
#include "terminal/screen.hpp"

namespace vtsnap {

class CapturedScreen {
public:
    // `log`: the transcript's file, opened (and later closed) by the caller.
    CapturedScreen(std::int32_t cols, std::int32_t rows, const std::optional<OutputFile>& log, bool useColor)
        : screen_(cols, rows) {
        if (log) {
            transcript_ = std::make_unique<Transcript>(*log, screen_.cols(), useColor);
            screen_.setRowSink(transcript_.get());
        }
    }
    CapturedScreen(const CapturedScreen&) = delete;
    CapturedScreen& operator=(const CapturedScreen&) = delete;

    Screen& screen() { return screen_; }
    const Screen& screen() const { return screen_; }
    // nullptr without a log.
    Transcript* transcript() { return transcript_.get(); }

private:
    Screen screen_;
    std::unique_ptr<Transcript> transcript_;
};

}  // namespace vtsnap
