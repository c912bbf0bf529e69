// The recording (-record=FILE): the run as asciicast v2, a header and then
// one output event per block read, appended to a file of its own and
// flushed at every tick, so that a player or `tail -f` can follow it.
//
// The reading thread only encodes; a writer thread of the recording's own
// writes, so that a slow disk does not hold decoding up. Memory is bounded:
// the reading thread waits for the writer when it is a hand-over behind, and
// while the file refuses writes, events are kept up to a limit and then
// dropped (and the end reports it).
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>

#include "snapshot/asciicast.hpp"
#include "snapshot/output_file.hpp"
#include "snapshot/writer_thread.hpp"

namespace vtsnap {

class Recording {
public:
    // Encoded events go to the writer once this much is waiting, and at ticks.
    static constexpr std::size_t kHandOver = 64 << 10;
    // While the file refuses them, events are kept up to this much.
    static constexpr std::size_t kHoldAtMost = 4 << 20;

    // `file` is empty; the caller owns it and keeps it open until finish()
    // has returned or the recording is gone. `header` is its first line.
    Recording(const OutputFile& file, std::string header);
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;
    ~Recording();

    // add, tick and finish come from one thread at a time.

    // One block as it was read, `microseconds` after the start.
    void add(std::uint64_t microseconds, const std::uint8_t* bytes, std::size_t length);
    // Hands what was added since the last tick to the writer, which writes
    // it, tries again what the file refused before, and flushes.
    void tick();
    // For the end, when nothing is added any more: writes everything and
    // flushes. True when the file took every event whole; a file that took
    // the last of them only in part is cut back to its last whole line.
    bool finish(std::uint64_t microseconds);

    // True once the file has turned out to be a pipe whose reader has gone.
    bool readerGone() const;

private:
    void handOver(bool tick);
    void writerLoop();
    void writeOut(bool tryAgain, bool flush);

    OutputFile file_;
    AsciicastEncoder encoder_;
    std::string filling_;  // the adding thread's

    // Shared with the writer, under mutex_.
    mutable std::mutex mutex_;
    std::condition_variable wake_;  // the writer: events, a tick or the end
    std::condition_variable idle_;  // the adding thread: the writer took the events
    std::string queued_;
    bool tickWanted_ = false;
    bool stop_ = false;
    bool failing_ = false;    // the last write failed; only ticks try again
    bool readerGone_ = false;
    bool dropped_ = false;    // events were dropped
    std::size_t held_ = 0;    // refused bytes the writer still holds

    // The writer's, and after it has ended finish()'s.
    std::string unwritten_;
    std::size_t done_ = 0;          // of unwritten_, already in the file
    std::uint64_t written_ = 0;     // bytes in the file
    std::uint64_t lineEnd_ = 0;     // just past its last whole line

    WriterThread writer_;  // started by the first hand-over
};

}  // namespace vtsnap
