#include "capture/capture_loop.hpp"

#include <new>
#include <string>

#include "snapshot/page.hpp"
#include "snapshot/render.hpp"

namespace vtsnap {

CaptureLoop::CaptureLoop(std::int32_t rows, std::optional<SnapshotFile> output, std::optional<SnapshotFile> log,
                         std::optional<SnapshotFile> page, bool useColor)
    : captured_(kColumns, rows, log, useColor), output_(output), page_(page), useColor_(useColor) {}

void CaptureLoop::feed(const std::uint8_t* bytes, std::size_t length) {
    std::lock_guard<std::mutex> guard(lock_);
    screen_.feedBytes(bytes, length);
    if (screen_.updateOpen() && screen_.updateNumber() != update_) [[unlikely]] {
        update_ = screen_.updateNumber();
        updateSince_ = Clock::now();
    }
}

// Rendered under the lock, into a buffer that keeps its room from one
// snapshot to the next, and written outside it. A snapshot that runs out of
// memory is skipped like any failed snapshot: the file keeps the previous one
// and the child goes on undisturbed. A tick during a synchronized update skips
// it too, unless the update has been open too long; the last snapshot is
// always written. The page goes with the screen file, from the same screen.
// True when the files hold this one.
bool CaptureLoop::snapshot(bool last) {
    if (!output_ && !page_) return true;
    try {
        std::lock_guard<std::mutex> guard(lock_);
        if (!last && screen_.updateOpen() && Clock::now() - updateSince_ < kUpdateLimit) return true;
        rendered_.clear();
        renderedPage_.clear();
        if (output_) {
            appendAscii(rendered_, kByteOrderMark);
            renderRows(rendered_, screen_, useColor_);
        }
        if (page_) renderPage(renderedPage_, screen_, !last);
    } catch (const std::bad_alloc&) {
        return false;
    }
    const bool screenWritten = !output_ || rewriteSnapshot(rendered_, *output_);
    const bool pageWritten = !page_ || rewriteSnapshot(renderedPage_, *page_);
    return screenWritten && pageWritten;
}

// What scrolled off since the last tick goes to the transcript's writer,
// which appends and flushes it while the reader goes on.
void CaptureLoop::appendLog() {
    if (!transcript_) return;
    std::lock_guard<std::mutex> guard(lock_);
    transcript_->tick();
}

bool CaptureLoop::run(ChildWatch& child) {
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
    const bool screenWritten = snapshot(true);
    if (!transcript_) return screenWritten;
    std::lock_guard<std::mutex> guard(lock_);
    const bool logWritten = transcript_->finish(screen_) || transcript_->readerGone();
    return screenWritten && logWritten;
}

}  // namespace vtsnap
