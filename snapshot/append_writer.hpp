// The one writer of the files that only grow, the transcript and the
// recording: bytes handed to it go to the file from a thread of its own, so
// that neither a slow disk nor a pipe whose reader lags holds up whoever
// produces them.
//
// What waits for the file is bounded. Up to kHoldAtMost bytes, everything is
// taken; a producer that wants to stay within the bound calls waitForRoom()
// before it produces more, at a point where waiting holds nobody else up (the
// flow control of a terminal). While the file refuses writes (full, at its
// size limit), waiting is no use: bytes are kept up to the bound, whole lines
// at a time, and the rest is refused for the producer to count; a tick tries
// the file again. A pipe whose reader has gone takes nothing more.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "snapshot/output_file.hpp"
#include "snapshot/writer_thread.hpp"

namespace vtsnap {

class AppendWriter {
public:
    static constexpr std::size_t kHoldAtMost = 4 << 20;

    // Told, on the writing thread, of each run of bytes the file took, in order.
    class Observer {
    public:
        virtual void took(const char* data, std::size_t length) = 0;

    protected:
        ~Observer() = default;
    };

    // `file` is empty; the caller owns it and keeps it open while the writer exists.
    explicit AppendWriter(const OutputFile& file, Observer* observer = nullptr);
    AppendWriter(const AppendWriter&) = delete;
    AppendWriter& operator=(const AppendWriter&) = delete;
    // Stops the thread; what finish() did not write is lost.
    ~AppendWriter();

    // append, tick and finish come from one thread at a time.

    // Takes `bytes` and returns how many it took: all of them, unless the file
    // is refusing writes (then the longest run of whole lines that fits the
    // bound; all with `always`) or its reader has gone (none).
    std::size_t append(std::string_view bytes, bool always = false);
    // Has the thread write what waits, try again what the file refused, and flush.
    void tick();
    // Waits until fewer than kHoldAtMost bytes wait for a file that takes
    // them; at once when it refuses them or its reader has gone.
    void waitForRoom();
    // The end: stops the thread, writes what waits on this thread and
    // flushes. True when the file took everything.
    bool finish();

    // After finish(): what the file did not take, in two parts.
    std::pair<std::string_view, std::string_view> unwritten() const {
        return {std::string_view(writing_).substr(done_), queued_};
    }
    // After finish(): writes on this thread; returns how much the file took.
    std::size_t writeNow(const char* data, std::size_t length);

    // True once a write has failed and nothing has been written since;
    // `error` is the errno of that failure where the platform sets one.
    bool failing() const { return failing_.load(); }
    int error() const { return error_.load(); }
    // True once the file has turned out to be a pipe whose reader has gone.
    bool readerGone() const { return readerGone_.load(); }

private:
    bool startThread();
    void threadLoop();
    void writeOut(bool tryAgain, bool flush);

    OutputFile file_;
    Observer* observer_;

    alignas(64) std::mutex mutex_;
    std::condition_variable wake_;  // the thread: bytes, a tick or the end
    std::condition_variable room_;  // a producer: fewer bytes wait
    std::string queued_;            // taken, not yet being written
    std::size_t held_ = 0;          // bytes taken and not in the file
    bool tickWanted_ = false;
    bool stop_ = false;
    bool threadless_ = false;       // no thread could start: the producer writes
    std::atomic<bool> failing_{false};
    std::atomic<int> error_{0};
    std::atomic<bool> readerGone_{false};

    // The thread's, and after it has ended finish()'s.
    std::string writing_;
    std::size_t done_ = 0;  // of writing_, already in the file

    WriterThread thread_;  // started by the first bytes or tick
};

}  // namespace vtsnap
