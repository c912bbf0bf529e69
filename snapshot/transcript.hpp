// The transcript (-log=FILE): every row that leaves the top of the screen, in
// the output file's format, appended to a file of its own; at the end, the
// last screen's rows after them. The file starts with one byte-order mark and
// is only ever appended to, so a reader can follow it as it grows.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "snapshot/snapshot_file.hpp"
#include "terminal/screen.hpp"

namespace vtsnap {

class Transcript final : public RowSink {
public:
    // Rows wait in memory until this many bytes are pending, then go out at once.
    static constexpr std::size_t kWriteAtOnce = 1 << 20;
    // While the file refuses them, rows are kept up to this much and then
    // counted as lost, so that memory stays bounded whatever the program
    // writes. A line in the file says where rows are missing and how many.
    static constexpr std::size_t kHoldAtMost = 4 << 20;

    // `file` is empty; the caller owns it and keeps it open past the last call.
    Transcript(const SnapshotFile& file, bool useColor);

    // Called while the screen decodes; never throws.
    void rowScrolledOff(const char16_t* chars, const CellAttr* attrs, std::int32_t cols) override;

    // Writes what is pending. True when nothing is left; what a failed or
    // short write left waits for the next call, which goes on from there.
    bool writePending();
    // Forces what was written out to the disk.
    void flush() const;
    // Adds the screen's rows from the first to the last occupied one after
    // those that left it, writes and flushes. For the end, when nothing is
    // decoded any more.
    bool finish(const Screen& screen);

    std::size_t pendingBytes() const { return pending_.size(); }

private:
    bool writeOut();
    void noteLostRows();

    SnapshotFile file_;
    bool useColor_;
    std::string pending_;  // not yet in the file; starts with the byte-order mark
    bool failed_ = false;  // the last write failed: rows wait for the next writePending()
    std::uint64_t lost_ = 0;  // rows dropped since the last line that tells of them
};

}  // namespace vtsnap
