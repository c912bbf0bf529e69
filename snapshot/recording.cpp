#include "snapshot/recording.hpp"

#include <string_view>
#include <utility>

namespace vtsnap {

Recording::Recording(const OutputFile& file, std::string header)
    : file_(file), filling_(std::move(header)), writer_(file, this) {}

void Recording::add(std::uint64_t microseconds, const std::uint8_t* bytes, std::size_t length) {
    encoder_.appendEvent(filling_, microseconds, bytes, length);
    if (filling_.size() >= kHandOver) handOver();
}

void Recording::tick() {
    handOver();
    writer_.tick();
}

// Events the writer refuses, while the file refuses them beyond the bound, are dropped.
void Recording::handOver() {
    if (writer_.append(filling_) != filling_.size() && !writer_.readerGone()) dropped_ = true;
    filling_.clear();
}

void Recording::took(const char* data, std::size_t length) {
    const std::size_t lastLineEnd = std::string_view(data, length).rfind('\n');
    if (lastLineEnd != std::string_view::npos) lineEnd_ = written_ + lastLineEnd + 1;
    written_ += length;
}

bool Recording::finish(std::uint64_t microseconds) {
    encoder_.appendEnd(filling_, microseconds);
    handOver();
    const bool whole = writer_.finish() && !dropped_;
    if (writer_.readerGone()) return false;
    // A player reads whole lines: a last one the file took only in part goes.
    std::uint64_t size = 0;
    if (written_ != lineEnd_ && file_.size(size) && size == written_ && file_.cutTo(lineEnd_)) written_ = lineEnd_;
    return whole;
}

}  // namespace vtsnap
