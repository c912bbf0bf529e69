#include "capture/capture_loop.hpp"

#include <algorithm>
#include <new>
#include <string>
#include <string_view>

#include "snapshot/render.hpp"

namespace vtsnap {

CaptureLoop::CaptureLoop(std::int32_t rows, const OutputFiles& files, bool useColor, std::string_view term)
    : captured_(kColumns, rows, files[indexOf(Output::Transcript)], useColor), useColor_(useColor) {
    for (const OutputKind& kind : kOutputs)
        if (kind.writing == Writing::Rewritten && files[indexOf(kind.output)])
            rewritten_.push_back({*files[indexOf(kind.output)], kind.render, {}, {}});
    if (const auto& file = files[indexOf(Output::Recording)]) {
        const auto now = std::chrono::system_clock::now().time_since_epoch();
        const auto unixSeconds = std::chrono::duration_cast<std::chrono::seconds>(now).count();
        recording_ = std::make_unique<Recording>(*file, asciicastHeader(kColumns, screen_.rows(), unixSeconds, term));
        recordingStart_ = Clock::now();
    }
    screen_.setUpdateObserver(this);
}

std::uint64_t CaptureLoop::microsecondsSinceStart() const {
    const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - recordingStart_);
    return static_cast<std::uint64_t>(std::max<std::int64_t>(elapsed.count(), 0));
}

void CaptureLoop::feed(const std::uint8_t* bytes, std::size_t length) {
    // Flow control: a log or a recording that lags its bound holds the
    // reading back here, never while the screen is locked, so that
    // snapshots go on.
    if (transcript_) transcript_->waitForRoom();
    if (recording_) recording_->waitForRoom();
    std::lock_guard<std::mutex> guard(lock_);
    if (recording_) recording_->add(microsecondsSinceStart(), bytes, length);
    decode(bytes, length);
}

// From inside the decoding of a block, with the lock held: the frame is
// caught whole even when the next one begins in the same block.
void CaptureLoop::updateEnded() {
    if (holdWanted_) [[unlikely]]
        holdFrame();
}

void CaptureLoop::decode(const std::uint8_t* bytes, std::size_t length) {
    screen_.feedBytes(bytes, length);
    if (screen_.updateOpen() && screen_.updateNumber() != update_) [[unlikely]] {
        update_ = screen_.updateNumber();
        updateSince_ = Clock::now();
    }
}

void CaptureLoop::render(bool held, bool live) {
    for (Rewritten& output : rewritten_) {
        std::string& into = held ? output.held : output.rendered;
        into.clear();
        output.render(into, screen_, useColor_, live);
    }
}

// A frame the reader renders for the next tick; without the memory for it,
// that tick finds none and waits as before.
void CaptureLoop::holdFrame() {
    holdWanted_ = false;
    try {
        render(true, true);
        held_ = true;
    } catch (const std::bad_alloc&) {
        held_ = false;
    }
}

// Rendered under the lock, into a buffer that keeps its room from one
// snapshot to the next, and written outside it. A snapshot that runs out of
// memory is skipped like any failed snapshot: the file keeps the previous one
// and the child goes on undisturbed. A tick during a synchronized update
// writes the frame held since the last tick, or none, unless updates have
// held snapshots back too long; the last snapshot is always written. The page
// goes with the screen file, from the same screen. True when the files hold
// this one.
bool CaptureLoop::snapshot(bool last) {
    if (rewritten_.empty()) return true;
    try {
        std::lock_guard<std::mutex> guard(lock_);
        const auto now = Clock::now();
        const bool holdBack = !last && screen_.updateOpen() && now - updateSince_ < kUpdateLimit &&
                              (!holdWanted_ || now - heldSince_ < kUpdateLimit);
        if (holdBack) {
            // The frame held since the last tick, if one ended; and the next.
            const bool frame = held_;
            if (frame || !holdWanted_) heldSince_ = now;
            held_ = false;
            holdWanted_ = true;
            if (!frame) return true;
            for (Rewritten& output : rewritten_) output.rendered.swap(output.held);
        } else {
            render(false, !last);
            held_ = holdWanted_ = false;
        }
    } catch (const std::bad_alloc&) {
        return false;
    }
    bool written = true;
    for (const Rewritten& output : rewritten_) written = rewriteSnapshot(output.rendered, output.file) && written;
    return written;
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
