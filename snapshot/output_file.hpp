// One of a run's output files (the screen file, the page, the transcript, the
// recording) and the in-place rewrite of a rendered screen. The file
// primitives are the platform's (output_file_<platform>.cpp); the order of
// the steps and what each failure leaves in the file are the same everywhere.
#pragma once

#include <cstdint>
#include <string_view>

#include "terminal/screen.hpp"

namespace vtsnap {

// What one write call did. A write that failed may still have taken bytes.
struct WriteResult {
    std::uint32_t written = 0;  // what the platform says it wrote
    bool ok = false;
    // The file is a pipe whose reader has gone: nothing written to it would
    // ever be read.
    bool readerGone = false;
    int error = 0;  // the errno value of a failure, where the platform gives one
};

// A view of an output file, opened by the run and closed by it: a HANDLE on
// Windows, a file descriptor on POSIX. Writes must be synchronous and must
// advance the file position.
class OutputFile {
public:
    explicit OutputFile(std::intptr_t nativeHandle) : handle_(nativeHandle) {}

    bool seekToStart() const;
    // One write call.
    WriteResult write(const char* data, std::uint32_t length) const;
    // Cuts the file at the current position.
    bool truncateHere() const;
    bool flush() const;
    // The size of a file that has one (not a pipe or a terminal).
    bool size(std::uint64_t& bytes) const;
    // Cuts the file to `bytes`, where the next write goes on.
    bool cutTo(std::uint64_t bytes) const;
    // For an in-place rewrite: an exclusive flock(2) on POSIX, which readers
    // that take a shared one wait for, so that they never see a rewrite half
    // done. Waits a moment at most for readers that hold theirs; false when
    // it did not get the lock, and the rewrite goes on without it. Windows
    // takes none: its locks are mandatory and would make plain readers fail.
    bool lockForRewrite() const;
    void unlockAfterRewrite() const;
    std::intptr_t nativeHandle() const { return handle_; }

private:
    std::intptr_t handle_;
};

// Rewrites the file with `snapshot`, a rendered screen. True when the file
// holds exactly the snapshot (a failed flush still counts as true).
bool rewriteSnapshot(std::string_view snapshot, const OutputFile& file);

// Renders and rewrites at once. The caller keeps the screen still (nothing
// decoded) across the call.
bool writeSnapshot(const Screen& screen, const OutputFile& file, bool useColor);

}  // namespace vtsnap
