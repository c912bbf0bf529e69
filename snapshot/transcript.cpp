#include "snapshot/transcript.hpp"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

#include "snapshot/render.hpp"

namespace vtsnap {

namespace {

// One write call takes a 32-bit length.
constexpr std::size_t kLargestWrite = 1u << 30;

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
      pending_(new char[kHoldAtMost]),
      defaultAttrs_(cols_) {
    for (Batch& batch : batches_) {
        batch.chars.reset(new char32_t[batchRows_ * cols_]);
        batch.hasAttrs.resize(batchRows_);
        batch.marks.resize(batchRows_);
    }
    std::memcpy(pending_.get(), kByteOrderMark.data(), kByteOrderMark.size());
    size_ = kByteOrderMark.size();
}

Transcript::~Transcript() { writer_.stop(mutex_, stop_, wake_); }

void Transcript::rowScrolledOff(const char32_t* chars, const CellAttr* attrs, std::span<const CellMarks> marks,
                                std::int32_t cols) {
    if (batches_[filling_].count == batchRows_) handOver();
    Batch& batch = batches_[filling_];
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

// Without a thread, the caller renders and writes itself.
bool Transcript::startWriter() {
    return writer_.start([this] { writerLoop(); });
}

void Transcript::handOver() {
    Batch& batch = batches_[filling_];
    if (batch.count == 0) return;
    if (!startWriter()) {
        renderBatch(batch);
        batch.count = 0;
        return;
    }
    std::unique_lock<std::mutex> lock(mutex_);
    // The next batch to fill must be free once this one is handed over.
    idle_.wait(lock, [this] { return queued_ + 2 <= kBatches; });
    ++queued_;
    filling_ = (filling_ + 1) % kBatches;
    // Waking the writer costs a system call and a switch: it is woken for two
    // batches at a time (or by a tick), not for each.
    const bool wake = queued_ >= 2;
    lock.unlock();
    if (wake) wake_.notify_one();
}

void Transcript::tick() {
    handOver();
    if (!startWriter()) {
        writePending();
        file_.flush();
        return;
    }
    {
        std::lock_guard<std::mutex> guard(mutex_);
        tickWanted_ = true;
    }
    wake_.notify_one();
}

bool Transcript::finish(const Screen& screen) {
    handOver();
    writer_.stop(mutex_, stop_, wake_);
    if (readerGone_) return false;

    // The writer has ended: what it kept is this thread's now.
    std::string last;
    bool rendered = true;
    try {
        const std::string note = lost_ != 0 ? lostRowsNote(lost_) : std::string();
        last = note;
        renderRows(last, screen, useColor_);
        if (!note.empty()) notes_.push_back({written_ + size_ + note.size(), lost_});
    } catch (const std::bad_alloc&) {
        last.clear();
        rendered = false;
    }
    // In order: what is pending, then the screen.
    const bool pendingWritten = writePending();
    const std::size_t lastWritten = pendingWritten ? write(last.data(), last.size()) : 0;
    const bool written = pendingWritten && lastWritten == last.size();
    if (!written && !readerGone_) {
        try {
            noteLostEnd(std::string_view(pending_.get(), size_), std::string_view(last).substr(lastWritten));
        } catch (const std::bad_alloc&) {
        }
    }
    file_.flush();
    return written && rendered;
}

void Transcript::writerLoop() {
    std::unique_lock<std::mutex> lock(mutex_);
    for (;;) {
        wake_.wait(lock, [this] { return queued_ != 0 || tickWanted_ || stop_; });
        Batch* batch = queued_ != 0 ? &batches_[next_] : nullptr;
        // A tick is for the rows handed over before it: its write waits for the last batch.
        const bool tick = tickWanted_ && queued_ <= 1;
        if (tick) tickWanted_ = false;
        const bool stop = stop_;
        lock.unlock();
        if (batch != nullptr) renderBatch(*batch);
        // A tick also tries again what the file refused before.
        if (tick || stop) writePending();
        if (tick) file_.flush();
        lock.lock();
        if (batch != nullptr) {
            batch->count = 0;
            --queued_;
            next_ = (next_ + 1) % kBatches;
            idle_.notify_one();
        }
        if (stop && queued_ == 0) return;
    }
}

void Transcript::renderBatch(Batch& batch) {
    if (readerGone_) return;  // nothing more is wanted
    const std::size_t count = batch.count;
    for (std::size_t i = 0; i < count; ++i) {
        const char32_t* chars = batch.chars.get() + i * cols_;
        const CellAttr* attrs = batch.hasAttrs[i] ? batch.attrs.get() + i * cols_ : defaultAttrs_.data();
        const auto cols = static_cast<std::int32_t>(cols_);
        // Most rows: rendered in place, with no copy and no allocation.
        std::size_t length = 0;
        if (!useColor_ && lost_ == 0 && kHoldAtMost - size_ >= cols_ + 2) {
            length = renderAsciiRow(pending_.get() + size_, chars, cols);
            size_ += length;
        }
        if (length == 0) {
            try {
                row_.clear();
                renderRow(row_, chars, attrs, batch.marks[i], cols, useColor_);
                addRendered(row_);
            } catch (const std::bad_alloc&) {
                ++lost_;
            }
        }
        if (size_ >= kWriteAtOnce && !failed_) writePending();
    }
}

// Appends `line`, after a note of the rows lost before it, or counts it as
// lost when the two do not fit.
void Transcript::addRendered(std::string_view line) {
    const std::string note = lost_ != 0 ? lostRowsNote(lost_) : std::string();
    if (kHoldAtMost - size_ < note.size() + line.size()) {
        ++lost_;
        return;
    }
    if (!note.empty()) notes_.push_back({written_ + size_ + note.size(), lost_});
    std::memcpy(pending_.get() + size_, note.data(), note.size());
    std::memcpy(pending_.get() + size_ + note.size(), line.data(), line.size());
    size_ += note.size() + line.size();
    lost_ = 0;
}

// Writes as much of `data` as the file takes; returns how much that was.
std::size_t Transcript::write(const char* data, std::size_t length) {
    std::size_t done = 0;
    while (done < length) {
        const auto part = static_cast<std::uint32_t>(std::min(length - done, kLargestWrite));
        const WriteResult wrote = file_.write(data + done, part);
        if (wrote.readerGone) readerGone_ = true;
        if (!wrote.ok) error_ = wrote.error;
        // Whatever the file took is in it, even from a write that failed.
        const std::uint32_t count = std::min(wrote.written, part);
        tookBytes(data + done, count);
        done += count;
        if (!wrote.ok || count == 0) break;
    }
    return done;
}

// Keeps account of what the file holds: where its newest lines end, and how
// many rows each stands for.
void Transcript::tookBytes(const char* data, std::size_t length) {
    std::size_t ends[kLineEndsKept];
    std::size_t found = 0;
    for (std::size_t i = length; i-- > 0 && found < kLineEndsKept;)
        if (data[i] == '\n') ends[found++] = i + 1;
    if (found == kLineEndsKept) lineEndsDropped_ = true;
    for (std::size_t k = found; k-- > 0;) {
        const std::uint64_t at = written_ + ends[k];
        std::uint64_t rows = 1;
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
void Transcript::noteLostEnd(std::string_view unwritten, std::string_view unwrittenLast) {
    std::uint64_t missing = rowsIn(unwritten, written_) + rowsIn(unwrittenLast, written_ + unwritten.size());
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
        if (write(note.data(), note.size()) == note.size()) return;
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

bool Transcript::writePending() {
    if (readerGone_) {
        size_ = 0;
        failed_ = true;
        failing_ = true;
        return false;
    }
    const std::size_t done = write(pending_.get(), size_);
    // Only what the file did not take stays, so nothing is written twice.
    if (done != 0 && done < size_) std::memmove(pending_.get(), pending_.get() + done, size_ - done);
    size_ -= done;
    failed_ = size_ != 0;
    failing_ = failed_;
    if (readerGone_) size_ = 0;
    return !failed_;
}

}  // namespace vtsnap
