#include "snapshot/transcript.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "snapshot/render.hpp"

namespace vtsnap {

namespace {

std::string lostRowsNote(std::uint64_t rows) {
    std::string note = "[vtsnap: ";
    appendDecimal(note, static_cast<std::uint32_t>(std::min<std::uint64_t>(rows, 0xFFFFFFFFu)));
    note += " lines missing here: the log file could not take them]\r\n";
    return note;
}

}  // namespace

Transcript::Transcript(const OutputFile& file, std::int32_t cols, bool useColor)
    : file_(file),
      cols_(static_cast<std::size_t>(std::max(cols, 1))),
      batchRows_(std::max<std::size_t>(kBatchCells / cols_, 1)),
      useColor_(useColor),
      chunk_(kByteOrderMark),  // goes with the first rows or the first tick
      defaultAttrs_(cols_),
      writer_(file, this) {
    for (std::size_t i = 0; i < kBatches; ++i) free_.push_back(newBatch());
    filling_ = free_.back();
    free_.pop_back();
}

Transcript::~Transcript() {
    abandoned_ = true;
    renderer_.stop(mutex_, stop_, wake_);
}

Transcript::Batch* Transcript::newBatch() {
    auto batch = std::make_unique<Batch>();
    batch->chars.reset(new char32_t[batchRows_ * cols_]);
    batch->hasAttrs.resize(batchRows_);
    batch->marks.resize(batchRows_);
    batches_.push_back(std::move(batch));
    return batches_.back().get();
}

void Transcript::rowScrolledOff(const char32_t* chars, const CellAttr* attrs, std::span<const CellMarks> marks,
                                std::int32_t cols) {
    if (filling_->count == batchRows_) handOver(true);
    Batch& batch = *filling_;
    const std::size_t at = batch.count * cols_;
    // A row of another width than the screen's is cut or padded to it.
    const std::size_t width = std::min(static_cast<std::size_t>(std::max(cols, 0)), cols_);
    std::memcpy(batch.chars.get() + at, chars, width * sizeof(char32_t));
    if (width < cols_) std::fill(batch.chars.get() + at + width, batch.chars.get() + at + cols_, U' ');
    std::vector<CellMarks>& rowMarks = batch.marks[batch.count];
    if (!marks.empty() || !rowMarks.empty()) {
        try {
            rowMarks.assign(marks.begin(), marks.end());
        } catch (const std::bad_alloc&) {
            rowMarks.clear();  // the row keeps its characters and loses their marks
        }
    }
    bool withAttrs = attrs != nullptr;
    if (withAttrs && !batch.attrs) {
        try {
            batch.attrs.reset(new CellAttr[batchRows_ * cols_]);
        } catch (const std::bad_alloc&) {
            withAttrs = false;  // the row keeps its text and loses its colours
        }
    }
    if (withAttrs) {
        std::memcpy(static_cast<void*>(batch.attrs.get() + at), attrs, width * sizeof(CellAttr));
        if (width < cols_) std::fill(batch.attrs.get() + at + width, batch.attrs.get() + at + cols_, CellAttr{});
    }
    batch.hasAttrs[batch.count++] = withAttrs;
}

// Without a thread, the caller renders itself.
bool Transcript::startRenderer() {
    if (noRenderer_) return false;
    if (renderer_.start([this] { rendererLoop(); })) return true;
    noRenderer_ = true;
    return false;
}

// Queues the batch being filled and takes a free one, made if need be. With
// every batch there may be in use, waits for the renderer when `mayWait`, and
// otherwise leaves the rows where they are and returns false.
bool Transcript::handOver(bool mayWait) {
    if (filling_->count == 0) return true;
    if (!startRenderer()) {
        renderBatch(*filling_);
        filling_->count = 0;
        return true;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    if (free_.empty() && flowControlled_ && batches_.size() < kMostBatches) {
        try {
            free_.push_back(newBatch());
        } catch (const std::bad_alloc&) {
            // The batches there are will do.
        }
    }
    if (free_.empty()) {
        if (!mayWait) return false;
        idle_.wait(lock, [this] { return !free_.empty(); });
    }
    queue_[(queueNext_ + queued_) % kMostBatches] = filling_;
    ++queued_;
    filling_ = free_.back();
    free_.pop_back();
    // Waking the renderer costs a system call and a switch: it is woken for
    // two batches at a time (or by a tick), not for each.
    const bool wake = queued_ >= 2;
    lock.unlock();
    if (wake) wake_.notify_one();
    return true;
}

void Transcript::waitForRoom() {
    std::unique_lock<std::mutex> lock(mutex_);
    flowControlled_ = true;
    idle_.wait(lock, [this] { return queued_ + 1 < kBatches || stop_; });
}

void Transcript::tick() {
    handOver(false);
    if (!startRenderer()) {
        appendChunk();
        writer_.tick();
        return;
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        tickWanted_ = true;
    }
    wake_.notify_one();
}

bool Transcript::finish(const Screen& screen) {
    handOver(true);
    renderer_.stop(mutex_, stop_, wake_);
    noRenderer_ = true;
    appendChunk();  // the byte-order mark of a transcript that got no row
    if (readerGone()) {
        writer_.finish();
        return false;
    }

    // The renderer has ended: what it kept is this thread's now.
    std::string last;
    bool rendered = true;
    std::size_t noteSize = 0;
    try {
        if (lost_ != 0) last = lostRowsNote(lost_);
        noteSize = last.size();
        renderRows(last, screen, useColor_);
    } catch (const std::bad_alloc&) {
        last.clear();
        noteSize = 0;
        rendered = false;
    }
    if (noteSize != 0) notes_.push_back({appended_ + noteSize, lost_});
    const std::size_t took = writer_.append(last, true);
    const bool written = writer_.finish() && took == last.size();
    if (!written && !readerGone()) {
        try {
            const auto [unwritten, queued] = writer_.unwritten();
            const std::uint64_t missing = rowsIn(unwritten, written_) +
                                          rowsIn(queued, written_ + unwritten.size()) +
                                          rowsIn(std::string_view(last).substr(took), appended_ + took);
            noteLostEnd(missing);
        } catch (const std::bad_alloc&) {
        }
    }
    file_.flush();
    return written && rendered;
}

void Transcript::rendererLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return queued_ != 0 || tickWanted_ || stop_; });
        Batch* batch = queued_ != 0 ? queue_[queueNext_] : nullptr;
        // A tick is for the rows handed over before it: it waits for the last batch.
        const bool tick = tickWanted_ && queued_ <= 1;
        if (tick) tickWanted_ = false;
        const bool stop = stop_;
        lock.unlock();
        if (batch != nullptr) renderBatch(*batch);
        if (tick) {
            appendChunk();
            writer_.tick();
        }
        lock.lock();
        if (batch != nullptr) {
            batch->count = 0;
            queueNext_ = (queueNext_ + 1) % kMostBatches;
            --queued_;
            free_.push_back(batch);
            idle_.notify_all();
        }
        if (stop && queued_ == 0) return;
    }
}

void Transcript::renderBatch(Batch& batch) {
    if (readerGone() || abandoned_) return;  // nothing more is wanted
    const std::size_t count = batch.count;
    for (std::size_t i = 0; i < count; ++i) {
        const char32_t* chars = batch.chars.get() + i * cols_;
        const CellAttr* attrs = batch.hasAttrs[i] ? batch.attrs.get() + i * cols_ : defaultAttrs_.data();
        const auto cols = static_cast<std::int32_t>(cols_);
        try {
            // Rows after lost ones follow a line that tells of them.
            if (lost_ != 0 && chunkNote_ == 0) {
                chunk_ += lostRowsNote(lost_);
                chunkNote_ = chunk_.size();
                chunkNoteRows_ = lost_;
            }
            // Most rows: rendered in place, with no allocation.
            const std::size_t size = chunk_.size();
            std::size_t length = 0;
            if (!useColor_) {
                chunk_.resize(size + cols_ + 2);
                length = renderAsciiRow(chunk_.data() + size, chars, cols);
                chunk_.resize(size + length);
            }
            if (length == 0) renderRow(chunk_, chars, attrs, batch.marks[i], cols, useColor_);
        } catch (const std::bad_alloc&) {
            // What was rendered goes, and the row is counted as lost.
            appendChunk();
            ++lost_;
        }
    }
    appendChunk();
}

// Hands the rendered rows to the file's writer once it has room for them.
// What it refuses is counted as lost, for the next rows' note.
void Transcript::appendChunk() {
    if (chunk_.empty()) return;
    writer_.waitForRoom();
    // The note's place is known before the writer can reach it.
    if (chunkNote_ != 0) {
        std::lock_guard<std::mutex> guard(mutex_);
        notes_.push_back({appended_ + chunkNote_, chunkNoteRows_});
    }
    const std::size_t took = writer_.append(chunk_);
    appended_ += took;
    if (chunkNote_ != 0 && took < chunkNote_) {
        std::lock_guard<std::mutex> guard(mutex_);
        notes_.pop_back();
    } else if (chunkNote_ != 0) {
        lost_ = 0;
    }
    const std::string_view refused = std::string_view(chunk_).substr(std::max(took, chunkNote_));
    lost_ += static_cast<std::uint64_t>(std::count(refused.begin(), refused.end(), '\n'));
    chunk_.clear();
    chunkNote_ = 0;
}

// Keeps account of what the file holds: where its newest lines end, and how
// many rows each stands for.
void Transcript::took(const char* data, std::size_t length) {
    std::size_t ends[kLineEndsKept];
    std::size_t found = 0;
    for (std::size_t i = length; i-- > 0 && found < kLineEndsKept;)
        if (data[i] == '\n') ends[found++] = i + 1;
    if (found == kLineEndsKept) lineEndsDropped_ = true;
    for (std::size_t k = found; k-- > 0;) {
        const std::uint64_t at = written_ + ends[k];
        std::uint64_t rows = 1;
        std::lock_guard<std::mutex> guard(mutex_);
        while (!notes_.empty() && notes_.front().at <= at) {
            if (notes_.front().at == at) rows = notes_.front().rows;
            notes_.erase(notes_.begin());
        }
        if (lineEndCount_ == kLineEndsKept) lineEndsDropped_ = true;
        lineEnds_[lineEndNext_] = {at, rows};
        lineEndNext_ = (lineEndNext_ + 1) % kLineEndsKept;
        lineEndCount_ = std::min(lineEndCount_ + 1, kLineEndsKept);
    }
    written_ += length;
    std::lock_guard<std::mutex> guard(mutex_);
    while (!notes_.empty() && notes_.front().at <= written_) notes_.erase(notes_.begin());
}

// The rows that `bytes`, which start at offset `at`, stand for.
std::uint64_t Transcript::rowsIn(std::string_view bytes, std::uint64_t at) const {
    std::uint64_t rows = static_cast<std::uint64_t>(std::count(bytes.begin(), bytes.end(), '\n'));
    for (const LineEnd& note : notes_)
        if (note.at > at && note.at <= at + bytes.size()) rows += note.rows - 1;
    return rows;
}

// Takes the file's last whole line, which ends at `to`, back: `to` moves to
// its start and its rows are counted. False when its start is not known.
bool Transcript::takeBackLine(std::uint64_t& to, std::uint64_t& rows) {
    if (lineEndCount_ == 0) return false;
    const std::size_t newest = (lineEndNext_ + kLineEndsKept - 1) % kLineEndsKept;
    std::uint64_t start = kByteOrderMark.size();
    if (lineEndCount_ > 1)
        start = lineEnds_[(newest + kLineEndsKept - 1) % kLineEndsKept].at;
    else if (lineEndsDropped_)
        return false;
    rows += lineEnds_[newest].rows;
    lineEndNext_ = newest;
    --lineEndCount_;
    to = start;
    return true;
}

// The file refused the end. The rows that did not reach it whole are told of
// in a last line; a line it holds only in part is taken back first, and when
// there is no room for the note, a line or more before it too, counted with
// the rest. Only a file that holds just what this transcript wrote is cut.
void Transcript::noteLostEnd(std::uint64_t missing) {
    if (missing == 0 || written_ < kByteOrderMark.size()) return;
    std::uint64_t size = 0;
    const bool canCut = file_.size(size) && size == written_;
    const std::uint64_t lineStart =
        lineEndCount_ != 0 ? lineEnds_[(lineEndNext_ + kLineEndsKept - 1) % kLineEndsKept].at : kByteOrderMark.size();
    if (lineStart != written_) {
        if (!canCut || !file_.cutTo(lineStart)) return;
        written_ = lineStart;
    }
    // Where the file ends first; then in place of lines taken back.
    for (int attempt = 0;; ++attempt) {
        const std::string note = lostRowsNote(missing);
        const std::uint64_t end = written_;
        if (writer_.writeNow(note.data(), note.size()) == note.size()) return;
        // Nothing stays of a note that did not fit.
        if (!canCut || !file_.cutTo(end)) return;
        written_ = end;
        if (attempt == 1) return;
        std::uint64_t to = end;
        while (end - to < lostRowsNote(missing).size() && takeBackLine(to, missing)) {
        }
        if (to == end || !file_.cutTo(to)) return;
        written_ = to;
    }
}

}  // namespace vtsnap
