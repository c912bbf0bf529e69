// Rewrites the output file in place with the current screen. The file
// primitives are the platform's (snapshot_file_<platform>.cpp); the order of
// the steps and what each failure leaves in the file are the same everywhere.
#pragma once

#include <cstdint>
#include <string_view>

#include "terminal/screen.hpp"

namespace vtsnap {

// A view of the output file, opened by the run and closed by it: a HANDLE on
// Windows, a file descriptor on POSIX. Writes must be synchronous and must
// advance the file position.
class SnapshotFile {
public:
    explicit SnapshotFile(std::intptr_t nativeHandle) : handle_(nativeHandle) {}

    bool seekToStart() const;
    // One write call; `written` reports what the platform says it wrote.
    bool write(const char* data, std::uint32_t length, std::uint32_t& written) const;
    // Cuts the file at the current position.
    bool truncateHere() const;
    bool flush() const;
    // The size of a file that has one (not a pipe or a terminal).
    bool size(std::uint64_t& bytes) const;
    // Cuts the file to `bytes`, where the next write goes on.
    bool cutTo(std::uint64_t bytes) const;
    // Right after a write that failed: true when the file is a pipe whose
    // reader has gone, so that nothing written to it would ever be read.
    static bool readerGone();

    std::intptr_t nativeHandle() const { return handle_; }

private:
    std::intptr_t handle_;
};

// Rewrites the file with `snapshot`, a rendered screen. True when the file
// holds exactly the snapshot (a failed flush still counts as true).
bool rewriteSnapshot(std::string_view snapshot, const SnapshotFile& file);

// Renders and rewrites at once. The caller keeps the screen still (nothing
// decoded) across the call.
bool writeSnapshot(const Screen& screen, const SnapshotFile& file, bool useColor);

}  // namespace vtsnap
