#include "capture/capture_loop.hpp"

#include <new>

namespace vtsnap {

CaptureLoop::CaptureLoop(std::int32_t rows, const SnapshotFile& output, std::optional<SnapshotFile> log,
                         bool useColor)
    : captured_(kColumns, rows, log, useColor), output_(output), useColor_(useColor) {}

void CaptureLoop::feed(const std::uint8_t* bytes, std::size_t length) {
    std::lock_guard<std::mutex> guard(lock_);
    screen_.feedBytes(bytes, length);
    if (screen_.updateOpen() && screen_.updateNumber() != update_) [[unlikely]] {
        update_ = screen_.updateNumber();
        updateSince_ = Clock::now();
    }
}

// A snapshot that runs out of memory is skipped like any failed snapshot: the
// file keeps the previous one and the child goes on undisturbed. A tick during
// a synchronized update skips it too, unless the update has been open too
// long; the last snapshot is always written.
void CaptureLoop::snapshot(bool last) {
    std::lock_guard<std::mutex> guard(lock_);
    if (!last && screen_.updateOpen() && Clock::now() - updateSince_ < kUpdateLimit) return;
    try {
        writeSnapshot(screen_, output_, useColor_);
    } catch (const std::bad_alloc&) {
    }
}

// What scrolled off since the last tick goes to the transcript's writer,
// which appends and flushes it while the reader goes on.
void CaptureLoop::appendLog() {
    if (!transcript_) return;
    std::lock_guard<std::mutex> guard(lock_);
    transcript_->tick();
}

void CaptureLoop::run(ChildWatch& child) {
    snapshot();
    appendLog();  // the byte-order mark, at once
    // The pass that sees the child end still writes its snapshot.
    bool ended = false;
    while (!ended) {
        ended = child.waitForChild(kSnapshotIntervalMs);
        snapshot();
        appendLog();
    }
    child.finishReading();
    // Holds every byte the child's terminal emitted.
    snapshot(true);
    if (transcript_) {
        std::lock_guard<std::mutex> guard(lock_);
        transcript_->finish(screen_);
    }
}

}  // namespace vtsnap
