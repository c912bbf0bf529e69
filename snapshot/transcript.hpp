// The transcript (-log=FILE): every row that leaves the top of the screen, in
// the output file's format, appended to a file of its own; at the end, the
// last screen's rows after them. The file starts with one byte-order mark and
// is only ever appended to, so a reader can follow it as it grows.
//
// Decoding must not wait for the log: the decoding thread only copies each
// row as it leaves, a batch at a time, and a writer thread of the
// transcript's own renders the batches and writes them. Where no thread can
// be started, the decoding thread does that itself.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "snapshot/output_file.hpp"
#include "snapshot/writer_thread.hpp"
#include "terminal/screen.hpp"

namespace vtsnap {

class Transcript final : public RowSink {
public:
    // Rows copied before the batch goes to the writer: 128 KB of text and, for
    // coloured rows, 512 KB of colours. Of the batches, one fills while the
    // others wait for the writer, so that a writer kept off the processor for
    // a moment does not hold decoding up.
    static constexpr std::size_t kBatchCells = 64 << 10;
    static constexpr std::size_t kBatches = 4;
    static_assert(kBatches >= 3, "the writer is woken for two batches while a third fills");
    // Rendered rows wait until this many bytes are pending, then go out at once.
    static constexpr std::size_t kWriteAtOnce = 1 << 20;
    // While the file refuses them, rendered rows are kept up to this much and
    // then counted as lost, so that memory stays bounded whatever the program
    // writes. A line in the file says where rows are missing and how many.
    static constexpr std::size_t kHoldAtMost = 4 << 20;

    // `file` is empty; the caller owns it and keeps it open until finish()
    // has returned or the transcript is gone. Rows are `cols` cells wide.
    Transcript(const OutputFile& file, std::int32_t cols, bool useColor);
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;
    // Stops the writer; what finish() did not write is lost.
    ~Transcript();

    // rowScrolledOff, tick and finish come from one thread at a time.

    // The decoding thread: copies the row. Waits only when the writer is
    // still busy with the previous batch.
    void rowScrolledOff(const char32_t* chars, const CellAttr* attrs, std::span<const CellMarks> marks,
                        std::int32_t cols) override;

    // Hands what left the screen since the last tick to the writer, which
    // writes it, tries again what the file refused before, and flushes.
    // Returns without waiting for the file.
    void tick();

    // For the end, when nothing is decoded any more: writes what is left and
    // then the screen's rows from the first to the last occupied one, and
    // flushes. True when the file took everything. When it did not, the rows
    // that did not reach it whole are counted in a last line that says how
    // many are missing, as in mid-run; a line the file holds only in part is
    // taken back for it, and lines before it too where that makes room.
    bool finish(const Screen& screen);

    // True once a write has failed and nothing has been written since;
    // `error` is the errno of that failure where the platform sets one.
    bool failing() const { return failing_.load(); }
    int error() const { return error_.load(); }
    // True once the file has turned out to be a pipe whose reader has gone:
    // nothing is rendered or written any more.
    bool readerGone() const { return readerGone_.load(); }

private:
    // Rows copied as they left, each `cols_` cells from the last. A cache
    // line of its own: one thread adds rows to a batch while the other
    // renders the other batch.
    struct alignas(64) Batch {
        std::size_t count = 0;
        std::unique_ptr<char32_t[]> chars;
        std::unique_ptr<CellAttr[]> attrs;  // made when a row first brings colours
        std::vector<std::uint8_t> hasAttrs;
        std::vector<std::vector<CellMarks>> marks;  // each row's; most have none
    };

    bool startWriter();
    void handOver();
    void writerLoop();
    void renderBatch(Batch& batch);
    void addRendered(std::string_view line);
    bool writePending();
    std::size_t write(const char* data, std::size_t length);
    void tookBytes(const char* data, std::size_t length);
    std::uint64_t rowsIn(std::string_view bytes, std::uint64_t at) const;
    void noteLostEnd(std::string_view unwritten, std::string_view unwrittenLast);
    bool takeBackLine(std::uint64_t& to, std::uint64_t& rows);

    OutputFile file_;
    std::size_t cols_;
    std::size_t batchRows_;
    bool useColor_;

    // The decoding thread's side.
    Batch batches_[kBatches];
    std::size_t filling_ = 0;

    // Shared with the writer, under mutex_.
    alignas(64) std::mutex mutex_;
    std::condition_variable wake_;  // the writer: a batch, a tick or the end
    std::condition_variable idle_;  // the decoding thread: the writer is done with a batch
    std::size_t queued_ = 0;        // batches handed over and not yet done, oldest first
    std::size_t next_ = 0;          // the oldest of them
    bool tickWanted_ = false;
    bool stop_ = false;
    std::atomic<bool> failing_{false};
    std::atomic<int> error_{0};
    std::atomic<bool> readerGone_{false};

    // The writer's, and after it has ended finish()'s.
    alignas(64) std::unique_ptr<char[]> pending_;  // rendered, not yet in the file
    std::size_t size_ = 0;
    std::string row_;                    // a row that is not plain ASCII, rendered on its own
    std::vector<CellAttr> defaultAttrs_; // for rows that came without colours
    bool failed_ = false;                // the last write failed: retried at the next tick
    std::uint64_t lost_ = 0;             // rows dropped since the last line that tells of them

    // What the file holds, for an end that it refuses. Offsets count from the
    // file's start: `written_` bytes are in it and pending_ follows them.
    struct LineEnd {
        std::uint64_t at;    // just past the line's LF
        std::uint64_t rows;  // 1, or for a line that tells of lost rows, their number
    };
    static constexpr std::size_t kLineEndsKept = 64;
    std::uint64_t written_ = 0;
    LineEnd lineEnds_[kLineEndsKept];   // the file's last lines, a ring
    std::size_t lineEndCount_ = 0;
    std::size_t lineEndNext_ = 0;       // where the next one goes
    bool lineEndsDropped_ = false;      // older lines than those kept exist
    std::vector<LineEnd> notes_;        // lines of lost rows not yet wholly written, in order

    WriterThread writer_;  // started by the first batch or tick
};

}  // namespace vtsnap
