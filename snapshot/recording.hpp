// The recording (-record=FILE): the run as asciicast v2, a header and then
// one output event per block read, appended to a file of its own and
// flushed at every tick, so that a player or `tail -f` can follow it.
//
// The reading thread only encodes; the file's writer (AppendWriter) writes
// from a thread of its own, so that a slow disk or a lagging pipe does not
// hold decoding up. Before each block, the reading thread waits, outside any
// lock, while the writer holds as much as it may (waitForRoom); while the
// file refuses writes, events are kept up to that bound and then dropped
// (and the end reports it).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "snapshot/append_writer.hpp"
#include "snapshot/asciicast.hpp"
#include "snapshot/output_file.hpp"

namespace vtsnap {

class Recording final : AppendWriter::Observer {
public:
    // Encoded events go to the writer once this much is waiting, and at ticks.
    static constexpr std::size_t kHandOver = 64 << 10;
    // While the file refuses them, events are kept up to this much.
    static constexpr std::size_t kHoldAtMost = AppendWriter::kHoldAtMost;

    // `file` is empty; the caller owns it and keeps it open until finish()
    // has returned or the recording is gone. `header` is its first line.
    Recording(const OutputFile& file, std::string header);
    Recording(const Recording&) = delete;
    Recording& operator=(const Recording&) = delete;

    // add, tick, waitForRoom and finish come from one thread at a time.

    // One block as it was read, `microseconds` after the start. Never waits.
    void add(std::uint64_t microseconds, const std::uint8_t* bytes, std::size_t length);
    // Hands what was added since the last tick to the writer, which writes
    // it, tries again what the file refused before, and flushes.
    void tick();
    // Before the next block is read, at a point where waiting holds nobody
    // up: waits while the file lags the bound behind.
    void waitForRoom() { writer_.waitForRoom(); }
    // For the end, when nothing is added any more: writes everything and
    // flushes. True when the file took every event whole; a file that took
    // the last of them only in part is cut back to its last whole line.
    bool finish(std::uint64_t microseconds);

    // True once the file has turned out to be a pipe whose reader has gone.
    bool readerGone() const { return writer_.readerGone(); }

private:
    void handOver();
    void took(const char* data, std::size_t length) override;

    OutputFile file_;
    AsciicastEncoder encoder_;
    std::string filling_;   // the adding thread's
    bool dropped_ = false;  // events were dropped

    // The writer's, and after it has ended finish()'s.
    std::uint64_t written_ = 0;  // bytes in the file
    std::uint64_t lineEnd_ = 0;  // just past its last whole line

    AppendWriter writer_;
};

}  // namespace vtsnap
