// The part of a capture run that is the same on every platform: the screen,
// the lock between the reader and the snapshots, the snapshot every 500 ms,
// the transcript, the page and the recording, and the order of the end: the
// child ends, the rest of its output is decoded, then the last snapshot and
// the last of the transcript and the recording.
// While the program draws a frame in a synchronized update, a tick leaves the
// file as it is, so that it keeps the last whole frame, and the next tick
// writes the frame that the update completes; the loop keeps the time, the
// screen only the mode.
// A snapshot holds the lock only while it renders: the file's rewrite and its
// flush, which a slow disk can stretch, happen while the reader goes on. The
// log and the recording never make the reader wait under the lock: a file of
// theirs that lags holds the reading back before the lock is taken.
// Each platform brings its own way of waiting for the child and of reading
// its output.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "capture/screen_size.hpp"
#include "snapshot/captured_screen.hpp"
#include "snapshot/recording.hpp"
#include "snapshot/output_file.hpp"
#include "snapshot/outputs.hpp"
#include "snapshot/transcript.hpp"
#include "terminal/screen.hpp"

namespace vtsnap {

inline constexpr std::size_t kReadSize = 4096;
inline constexpr int kSnapshotIntervalMs = 500;
// A synchronized update (a frame the program brackets with CSI ? 2026 h and l)
// holds snapshots back for at most this long, as terminals hold their display.
inline constexpr std::chrono::milliseconds kUpdateLimit{1000};

// What a platform does for the loop, on the loop's (main) thread.
class ChildWatch {
public:
    // Waits up to `milliseconds` for the child to end, keeping its output
    // flowing meanwhile. True once it has ended, or once waiting is no use.
    virtual bool waitForChild(int milliseconds) = 0;
    // After the child's end: returns once all the output that is coming has
    // gone through CaptureLoop::feed and nothing will call it again.
    virtual void finishReading() = 0;

protected:
    ~ChildWatch() = default;
};

// The run's files by the row of kOutputs; none for an output not wanted
// (or the null device). Opened, and later closed, by the caller.
using OutputFiles = std::array<std::optional<OutputFile>, kOutputCount>;

class CaptureLoop : private UpdateObserver {
public:
    // A recording, when there is one, starts now, for a child that sees
    // `term` as TERM (empty: none): built just before the child starts.
    CaptureLoop(std::int32_t rows, const OutputFiles& files, bool useColor, std::string_view term = {});
    CaptureLoop(const CaptureLoop&) = delete;
    CaptureLoop& operator=(const CaptureLoop&) = delete;

    // Decodes one block of the child's output; any thread.
    void feed(const std::uint8_t* bytes, std::size_t length);

    // The main thread's part, from the first snapshot to the last, once the
    // child runs and its output is being read. True when the last snapshot
    // and the end of the transcript reached their files whole; a log whose
    // reader has gone wants nothing more and does not count against it.
    bool run(ChildWatch& child);

    // For a caller that knows that nothing is being decoded.
    const Screen& screen() const { return screen_; }

private:
    using Clock = std::chrono::steady_clock;

    bool snapshot(bool last = false);
    void appendLog();
    std::uint64_t microsecondsSinceStart() const;
    // With the lock held.
    void decode(const std::uint8_t* bytes, std::size_t length);
    // Renders every rewritten output, into its `rendered` or its `held`.
    void render(bool held, bool live);
    void holdFrame();
    void updateEnded() override;

    std::mutex lock_;  // held for each block decoded, each render and each hand-over to the log
    CapturedScreen captured_;
    Screen& screen_ = captured_.screen();
    Transcript* const transcript_ = captured_.transcript();  // nullptr without a log
    // The files rewritten at each tick, each with its renderer.
    struct Rewritten {
        OutputFile file;
        Renderer render;
        std::string rendered;  // the main thread's: the snapshot being written
        std::string held;      // the frame held for the next tick
    };
    std::vector<Rewritten> rewritten_;
    bool useColor_;
    // The synchronized update seen last, and when the block that began it came.
    std::uint32_t update_ = 0;
    Clock::time_point updateSince_;
    // A program that draws frames back to back may have one open at every
    // tick. A tick that finds one open asks for the next whole frame
    // (holdWanted_, since heldSince_): the reader renders it where an update
    // ends, and the next tick writes it. Guarded by the lock.
    bool holdWanted_ = false;
    bool held_ = false;
    Clock::time_point heldSince_;
    std::unique_ptr<Recording> recording_;  // none without -record
    Clock::time_point recordingStart_;
};

}  // namespace vtsnap
