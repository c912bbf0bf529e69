#include "snapshot/append_writer.hpp"

#include <algorithm>
#include <new>
#include <utility>

namespace vtsnap {

namespace {

// Bytes wake the thread once this many wait, and at every tick: a wake costs
// the producer a system call, and the thread a switch.
constexpr std::size_t kWakeAt = 1 << 20;
// One write call at most: small enough that a waiting producer hears of the
// room a pipe's reader makes before the whole hold has gone through.
constexpr std::size_t kWriteAtMost = 256 << 10;
constexpr std::size_t kLetGoAbove = 2 * kWakeAt;

}  // namespace

AppendWriter::AppendWriter(const OutputFile& file, Observer* observer) : file_(file), observer_(observer) {}

AppendWriter::~AppendWriter() { thread_.stop(mutex_, stop_, wake_); }

bool AppendWriter::startThread() {
    if (threadless_) return false;
    if (thread_.start([this] { threadLoop(); })) return true;
    std::lock_guard<std::mutex> guard(mutex_);
    threadless_ = true;
    return false;
}

std::size_t AppendWriter::append(std::string_view bytes, bool always) {
    if (bytes.empty() || readerGone_) return 0;
    const bool threaded = startThread();
    std::size_t take = bytes.size();
    bool wake = false;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (failing_ && !always) {
            const std::size_t room = kHoldAtMost - std::min(held_, kHoldAtMost);
            if (take > room) {
                const std::size_t lineEnd = bytes.substr(0, room).rfind('\n');
                take = lineEnd == std::string_view::npos ? 0 : lineEnd + 1;
            }
        }
        try {
            queued_.append(bytes.data(), take);
        } catch (const std::bad_alloc&) {
            return 0;
        }
        held_ += take;
        wake = !failing_ && queued_.size() >= kWakeAt;
    }
    if (!wake) return take;
    if (threaded)
        wake_.notify_one();
    else
        writeOut(false, false);
    return take;
}

void AppendWriter::tick() {
    if (!startThread()) {
        writeOut(true, true);
        return;
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        tickWanted_ = true;
    }
    wake_.notify_one();
}

void AppendWriter::waitForRoom() {
    std::unique_lock<std::mutex> lock(mutex_);
    room_.wait(lock, [this] { return held_ < kHoldAtMost || failing_ || readerGone_ || stop_ || threadless_; });
}

bool AppendWriter::finish() {
    thread_.stop(mutex_, stop_, wake_);
    {
        // Whoever waits for room waits no more.
        std::lock_guard<std::mutex> guard(mutex_);
        stop_ = true;
    }
    room_.notify_all();
    writeOut(true, true);
    return !readerGone_ && !failing_;
}

void AppendWriter::threadLoop() {
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

// Writes what the file has not got yet, then what is queued. After a
// failure, only `tryAgain` (a tick, the end) writes again.
void AppendWriter::writeOut(bool tryAgain, bool flush) {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (readerGone_ || (failing_ && !tryAgain)) return;
    }
    for (bool ok = true; ok;) {
        if (done_ == writing_.size()) {
            std::lock_guard<std::mutex> guard(mutex_);
            if (queued_.empty()) break;
            writing_.clear();
            done_ = 0;
            std::swap(writing_, queued_);
            // A buffer that grew while the file lagged goes once written, so
            // that memory holds one bound's worth of bytes, not two.
            if (queued_.capacity() > kLetGoAbove) std::string().swap(queued_);
        }
        const std::size_t part = writeNow(writing_.data() + done_, std::min(writing_.size() - done_, kWriteAtMost));
        done_ += part;
        ok = part != 0 && !failing_;
        std::lock_guard<std::mutex> guard(mutex_);
        held_ -= part;
        if (readerGone_) {
            writing_.clear();
            done_ = 0;
            queued_.clear();
            held_ = 0;
        }
        room_.notify_all();
    }
    if (flush && !readerGone_) file_.flush();
}

std::size_t AppendWriter::writeNow(const char* data, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        // One write call takes a 32-bit length.
        const auto part = static_cast<std::uint32_t>(std::min<std::size_t>(length - done, 1u << 30));
        const WriteResult wrote = file_.write(data + done, part);
        if (!wrote.ok) error_ = wrote.error;
        if (wrote.readerGone) readerGone_ = true;
        // Whatever the file took is in it, even from a write that failed.
        const std::uint32_t count = std::min(wrote.written, part);
        if (count != 0 && observer_ != nullptr) observer_->took(data + done, count);
        done += count;
        if (!wrote.ok || count == 0) {
            failing_ = true;
            return done;
        }
    }
    failing_ = false;
    return done;
}

}  // namespace vtsnap
