#include "capture/capture_loop.hpp"

#include <algorithm>
#include <new>
#include <string>

#include "snapshot/render.hpp"

namespace vtsnap {

CaptureLoop::CaptureLoop(std::int32_t rows, std::optional<SnapshotFile> output, std::optional<SnapshotFile> log,
                         bool useColor)
    : captured_(kColumns, rows, log, useColor), output_(output), useColor_(useColor) {}

void CaptureLoop::record(const SnapshotFile& file, std::string_view term) {
    const auto now = std::chrono::system_clock::now().time_since_epoch();
    const auto unixSeconds = std::chrono::duration_cast<std::chrono::seconds>(now).count();
    recording_ = std::make_unique<Recording>(file, asciicastHeader(kColumns, screen_.rows(), unixSeconds, term));
    recordingStart_ = Clock::now();
}

std::uint64_t CaptureLoop::microsecondsSinceStart() const {
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - recordingStart_);
    return static_cast<std::uint64_t>(std::max<std::int64_t>(elapsed.count(), 0));
}

void CaptureLoop::feed(const std::uint8_t* bytes, std::size_t length) {
    std::lock_guard<std::mutex> guard(lock_);
    if (recording_) recording_->add(microsecondsSinceStart(), bytes, length);
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
// always written. True when the file holds this one.
bool CaptureLoop::snapshot(bool last) {
    if (!output_) return true;
    try {
        std::lock_guard<std::mutex> guard(lock_);
        if (!last && screen_.updateOpen() && Clock::now() - updateSince_ < kUpdateLimit) return true;
        rendered_.clear();
        appendAscii(rendered_, kByteOrderMark);
        renderRows(rendered_, screen_, useColor_);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return rewriteSnapshot(rendered_, *output_);
}

// What scrolled off, and what was read, since the last tick goes to the
// writers of the transcript and the recording, which append and flush it
// while the reader goes on.
void CaptureLoop::appendLog() {
    if (!transcript_ && !recording_) return;
    std::lock_guard<std::mutex> guard(lock_);
    if (transcript_) transcript_->tick();
    if (recording_) recording_->tick();
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
    std::lock_guard<std::mutex> guard(lock_);
    const bool logWritten = !transcript_ || transcript_->finish(screen_) || transcript_->readerGone();
    const bool recordingWritten =
        !recording_ || recording_->finish(microsecondsSinceStart()) || recording_->readerGone();
    return screenWritten && logWritten && recordingWritten;
}

}  // namespace vtsnap
