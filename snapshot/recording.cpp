#include "snapshot/recording.hpp"

#include <algorithm>
#include <string_view>
#include <utility>

namespace vtsnap {

namespace {

// One write call takes a 32-bit length.
constexpr std::size_t kLargestWrite = 1u << 30;

}  // namespace

Recording::Recording(const OutputFile& file, std::string header) : file_(file), filling_(std::move(header)) {}

Recording::~Recording() { writer_.stop(mutex_, stop_, wake_); }

void Recording::add(std::uint64_t microseconds, const std::uint8_t* bytes, std::size_t length) {
    encoder_.appendEvent(filling_, microseconds, bytes, length);
    if (filling_.size() >= kHandOver) handOver(false);
}

void Recording::tick() { handOver(true); }

bool Recording::readerGone() const {
    std::lock_guard<std::mutex> guard(mutex_);
    return readerGone_;
}

void Recording::handOver(bool tick) {
    const bool threaded = writer_.start([this] { writerLoop(); });
    {
        std::unique_lock<std::mutex> lock(mutex_);
        // One hand-over waits for the writer at a time; while the file refuses
        // writes they gather up to the limit, and beyond it are dropped.
        if (threaded) idle_.wait(lock, [this] { return queued_.empty() || failing_ || readerGone_; });
        if (readerGone_) {
            // Nothing more is wanted.
        } else if (failing_ && held_ + queued_.size() + filling_.size() > kHoldAtMost) {
            dropped_ = true;
        } else if (queued_.empty()) {
            std::swap(queued_, filling_);
        } else {
            queued_ += filling_;
        }
        filling_.clear();
        if (tick) tickWanted_ = true;
    }
    if (threaded)
        wake_.notify_one();
    else
        writeOut(tick, tick);
}

void Recording::writerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return (!queued_.empty() && !failing_) || tickWanted_ || stop_; });
        if (stop_) return;  // finish() writes the rest
        const bool tick = tickWanted_;
        tickWanted_ = false;
        lock.unlock();
        writeOut(tick, tick);
        lock.lock();
    }
}

// Takes what is queued and writes what the file has not got yet. After a
// failure, only `tryAgain` (a tick, the end) writes again.
void Recording::writeOut(bool tryAgain, bool flush) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (readerGone_ || (failing_ && !tryAgain)) return;
        if (done_ == unwritten_.size()) {
            unwritten_.clear();
            done_ = 0;
            std::swap(unwritten_, queued_);
        } else if (!queued_.empty()) {
            unwritten_.erase(0, done_);
            done_ = 0;
            unwritten_ += queued_;
            queued_.clear();
        }
    }
    idle_.notify_one();
    bool gone = false;
    while (done_ < unwritten_.size()) {
        const auto part = static_cast<std::uint32_t>(std::min(unwritten_.size() - done_, kLargestWrite));
        const WriteResult wrote = file_.write(unwritten_.data() + done_, part);
        const bool ok = wrote.ok;
        if (!ok) gone = wrote.readerGone;
        // Whatever the file took is in it, even from a write that failed.
        const std::uint32_t count = std::min(wrote.written, part);
        const std::size_t lastLineEnd = std::string_view(unwritten_.data() + done_, count).rfind('\n');
        if (lastLineEnd != std::string_view::npos) lineEnd_ = written_ + lastLineEnd + 1;
        written_ += count;
        done_ += count;
        if (!ok || count == 0) break;
    }
    if (flush && !gone) file_.flush();
    {
        std::lock_guard<std::mutex> guard(mutex_);
        failing_ = done_ < unwritten_.size();
        if (gone) {
            readerGone_ = true;
            unwritten_.clear();
            done_ = 0;
            queued_.clear();
        }
        held_ = unwritten_.size() - done_;
    }
    idle_.notify_one();
}

bool Recording::finish(std::uint64_t microseconds) {
    encoder_.appendEnd(filling_, microseconds);
    // The writer has ended (or never started): the rest is this thread's.
    writer_.stop(mutex_, stop_, wake_);
    handOver(true);
    if (readerGone_) return false;
    const bool whole = !failing_ && !dropped_;
    // A player reads whole lines: a last one the file took only in part goes.
    std::uint64_t size = 0;
    if (written_ != lineEnd_ && file_.size(size) && size == written_ && file_.cutTo(lineEnd_)) written_ = lineEnd_;
    return whole;
}

}  // namespace vtsnap
