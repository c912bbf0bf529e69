#include "snapshot/transcript.hpp"

#include <algorithm>
#include <new>

#include "snapshot/render.hpp"

namespace vtsnap {

namespace {

// Room for the rows that arrive between reaching kWriteAtOnce and writing, so
// that the buffer is allocated once.
constexpr std::size_t kRowRoom = 64 << 10;
// One write call takes a 32-bit length.
constexpr std::size_t kLargestWrite = 1u << 30;

}  // namespace

Transcript::Transcript(const SnapshotFile& file, bool useColor) : file_(file), useColor_(useColor) {
    pending_.reserve(kWriteAtOnce + kRowRoom);
    pending_.append(kByteOrderMark);
}

void Transcript::rowScrolledOff(const char16_t* chars, const CellAttr* attrs, std::int32_t cols) {
    if (pending_.size() >= kWriteAtOnce && !failed_) writeOut();
    if (pending_.size() >= kHoldAtMost) {
        ++lost_;
        return;
    }
    const std::size_t before = pending_.size();
    try {
        if (lost_ != 0) noteLostRows();
        renderRow(pending_, chars, attrs, cols, useColor_);
    } catch (const std::bad_alloc&) {
        pending_.resize(before);
        ++lost_;
    }
}

bool Transcript::writePending() { return writeOut(); }

void Transcript::flush() const { file_.flush(); }

bool Transcript::finish(const Screen& screen) {
    const std::size_t before = pending_.size();
    try {
        if (lost_ != 0) noteLostRows();
        renderRows(pending_, screen, useColor_);
    } catch (const std::bad_alloc&) {
        pending_.resize(before);
    }
    const bool written = writeOut();
    flush();
    return written;
}

bool Transcript::writeOut() {
    std::size_t done = 0;
    bool ok = true;
    while (done < pending_.size()) {
        const auto length = static_cast<std::uint32_t>(std::min(pending_.size() - done, kLargestWrite));
        std::uint32_t count = 0;
        ok = file_.write(pending_.data() + done, length, count);
        // Whatever the file took is in it, even from a write that failed.
        done += std::min<std::size_t>(count, length);
        if (!ok || count == 0) {
            ok = false;
            break;
        }
    }
    // Only what the file did not take stays, so nothing is written twice.
    pending_.erase(0, done);
    failed_ = !ok;
    return ok;
}

// Says, where the rows are missing, how many the file could not take.
void Transcript::noteLostRows() {
    appendAscii(pending_, "[vtsnap: ");
    appendDecimal(pending_, static_cast<std::uint32_t>(std::min<std::uint64_t>(lost_, 0xFFFFFFFFu)));
    appendAscii(pending_, " lines missing here: the log file could not take them]\r\n");
    lost_ = 0;
}

}  // namespace vtsnap
