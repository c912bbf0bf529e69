#include "snapshot/transcript.hpp"

#include <algorithm>
#include <cerrno>
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

Transcript::Transcript(const SnapshotFile& file, std::int32_t cols, bool useColor)
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

Transcript::~Transcript() {
    if (!writer_.joinable()) return;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        stop_ = true;
    }
    wake_.notify_one();
    writer_.join();
}

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

// The writer starts with the first batch or tick rather than with the
// transcript, so that a run forks its child before any thread exists. Without
// a thread, the caller renders and writes itself.
bool Transcript::startWriter() {
    if (writer_.joinable()) return true;
    if (noWriter_) return false;
    try {
        writer_ = std::thread([this] { writerLoop(); });
        return true;
    } catch (const std::exception&) {
        noWriter_ = true;
        return false;
    }
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
    if (writer_.joinable()) {
        {
            std::lock_guard<std::mutex> guard(mutex_);
            stop_ = true;
        }
        wake_.notify_one();
        writer_.join();
    }

    // The writer has ended: what it kept is this thread's now.
    std::string last;
    try {
        if (lost_ != 0) last = lostRowsNote(lost_);
        renderRows(last, screen, useColor_);
    } catch (const std::bad_alloc&) {
        last.clear();
    }
    // In order: what is pending, then the screen.
    const bool written = writePending() && write(last.data(), last.size()) == last.size();
    file_.flush();
    return written;
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
        std::uint32_t count = 0;
        errno = 0;
        const bool ok = file_.write(data + done, part, count);
        // Whatever the file took is in it, even from a write that failed.
        done += std::min(count, part);
        if (!ok || count == 0) {
            error_ = errno;
            break;
        }
    }
    return done;
}

bool Transcript::writePending() {
    const std::size_t done = write(pending_.get(), size_);
    // Only what the file did not take stays, so nothing is written twice.
    if (done != 0 && done < size_) std::memmove(pending_.get(), pending_.get() + done, size_ - done);
    size_ -= done;
    failed_ = size_ != 0;
    failing_ = failed_;
    return !failed_;
}

}  // namespace vtsnap
