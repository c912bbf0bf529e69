// The transcript (-log=FILE): every row that leaves the top of the screen, in
// the output file's format, appended to a file of its own; at the end, the
// last screen's rows after them. The file starts with one byte-order mark and
// is only ever appended to, so a reader can follow it as it grows.
//
// Decoding must not wait for the log: the decoding thread only copies each
// row as it leaves, a batch at a time; a renderer thread of the transcript's
// own renders the batches, and the file's writer (AppendWriter) writes them.
// Where no thread can be started, the decoding thread does that itself.
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

#include "snapshot/append_writer.hpp"
#include "snapshot/output_file.hpp"
#include "snapshot/writer_thread.hpp"
#include "terminal/screen.hpp"

namespace vtsnap {

class Transcript final : public RowSink, AppendWriter::Observer {
public:
    // Rows copied before the batch goes to the renderer: 256 KB of
    // characters and, for coloured rows, 512 KB of colours. Of the batches, one fills while
    // the others wait for the renderer, so that a renderer kept off the
    // processor for a moment does not hold decoding up.
    static constexpr std::size_t kBatches = 4;
    static constexpr std::size_t kBatchCells = 64 << 10;
    static_assert(kBatches >= 3, "the renderer is woken for two batches while a third fills");
    // For a decoding thread that waits for room before each block
    // (waitForRoom), batches beyond kBatches are made while the file lags, up
    // to this many, so that a block is decoded whole without waiting: only a
    // block that pushes more rows out than these hold waits in the middle.
    // Any other waits for the renderer when the kBatches are taken, and keeps
    // to their memory.
    static constexpr std::size_t kMostBatches = 16;
    // Rendered rows that wait for the file: see AppendWriter. Past it, while
    // the file refuses them, rows are counted as lost, and a line in the file
    // says where rows are missing and how many.
    static constexpr std::size_t kHoldAtMost = AppendWriter::kHoldAtMost;

    // `file` is empty; the caller owns it and keeps it open until finish()
    // has returned or the transcript is gone. Rows are `cols` cells wide.
    Transcript(const OutputFile& file, std::int32_t cols, bool useColor);
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;
    // Stops the threads; what finish() did not write is lost.
    ~Transcript();

    // rowScrolledOff, tick, waitForRoom and finish come from one thread at a time.

    // The decoding thread: copies the row. Never waits for the file, unless
    // one block has filled every batch there may be.
    void rowScrolledOff(const char32_t* chars, const CellAttr* attrs, std::span<const CellMarks> marks,
                        std::int32_t cols) override;

    // Hands what left the screen since the last tick to the renderer, and
    // has the file's writer write it, try again what the file refused before,
    // and flush. Returns without waiting.
    void tick();

    // Before the next block is decoded, at a point where waiting holds nobody
    // up: waits while the file lags so far behind that no batch is free. From
    // the first call on, a block never waits in the middle (kMostBatches).
    void waitForRoom();

    // For the end, when nothing is decoded any more: writes what is left and
    // then the screen's rows from the first to the last occupied one, and
    // flushes. True when the file took everything. When it did not, the rows
    // that did not reach it whole are counted in a last line that says how
    // many are missing, as in mid-run; a line the file holds only in part is
    // taken back for it, and lines before it too where that makes room.
    bool finish(const Screen& screen);

    // True once a write has failed and nothing has been written since;
    // `error` is the errno of that failure where the platform sets one.
    bool failing() const { return writer_.failing(); }
    int error() const { return writer_.error(); }
    // True once the file has turned out to be a pipe whose reader has gone:
    // nothing is rendered or written any more.
    bool readerGone() const { return writer_.readerGone(); }

private:
    // Rows copied as they left, each `cols_` cells from the last. A cache
    // line of its own: one thread adds rows to a batch while the other
    // renders another.
    struct alignas(64) Batch {
        std::size_t count = 0;
        std::unique_ptr<char32_t[]> chars;
        std::unique_ptr<CellAttr[]> attrs;  // made when a row first brings colours
        std::vector<std::uint8_t> hasAttrs;
        std::vector<std::vector<CellMarks>> marks;  // each row's; most have none
    };

    struct LineEnd {
        std::uint64_t at;    // just past the line's LF
        std::uint64_t rows;  // 1, or for a line that tells of lost rows, their number
    };

    Batch* newBatch();
    bool startRenderer();
    bool handOver(bool mayWait);
    void rendererLoop();
    void renderBatch(Batch& batch);
    void appendChunk();
    void took(const char* data, std::size_t length) override;
    std::uint64_t rowsIn(std::string_view bytes, std::uint64_t at) const;
    void noteLostEnd(std::uint64_t missing);
    bool takeBackLine(std::uint64_t& to, std::uint64_t& rows);

    OutputFile file_;
    std::size_t cols_;
    std::size_t batchRows_;
    bool useColor_;

    // The decoding thread's side.
    Batch* filling_ = nullptr;

    // Shared with the renderer, under mutex_.
    alignas(64) std::mutex mutex_;
    std::condition_variable wake_;   // the renderer: a batch, a tick or the end
    std::condition_variable idle_;   // the decoding thread: a batch is free again
    std::vector<std::unique_ptr<Batch>> batches_;  // all there are
    std::vector<Batch*> free_;
    Batch* queue_[kMostBatches] = {};  // handed over and not yet rendered, a ring
    std::size_t queueNext_ = 0;        // the oldest of them
    std::size_t queued_ = 0;
    bool tickWanted_ = false;
    bool stop_ = false;
    bool noRenderer_ = false;       // no thread could start: the decoding thread renders
    bool flowControlled_ = false;   // waitForRoom() is called before each block
    std::atomic<bool> abandoned_{false};  // going without finish(): nothing more is rendered
    std::vector<LineEnd> notes_;    // lines of lost rows not yet wholly written, in order

    // The renderer's, and after it has ended finish()'s.
    alignas(64) std::string chunk_;      // rendered rows of a batch, for the writer
    std::size_t chunkNote_ = 0;          // the note of lost rows chunk_ starts with, bytes
    std::uint64_t chunkNoteRows_ = 0;    // and the rows it tells of
    std::vector<CellAttr> defaultAttrs_; // for rows that came without colours
    std::uint64_t appended_ = 0;         // bytes the writer took, from the file's start
    std::uint64_t lost_ = 0;             // rows dropped since the last line that tells of them

    // The file's writer's, and after it has ended finish()'s: what the file
    // holds, for an end that it refuses. Offsets count from the file's start.
    static constexpr std::size_t kLineEndsKept = 64;
    std::uint64_t written_ = 0;
    LineEnd lineEnds_[kLineEndsKept];   // the file's last lines, a ring
    std::size_t lineEndCount_ = 0;
    std::size_t lineEndNext_ = 0;       // where the next one goes
    bool lineEndsDropped_ = false;      // older lines than those kept exist

    AppendWriter writer_;
    WriterThread renderer_;  // started by the first batch or tick
};

}  // namespace vtsnap
