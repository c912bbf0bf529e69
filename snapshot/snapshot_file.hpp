// Rewrites the output file in place with the current screen. The four file
// primitives are the platform's (snapshot_file_<platform>.cpp); the order of
// the steps and what each failure leaves in the file are the same everywhere.
#pragma once

#include <cstdint>

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

    std::intptr_t nativeHandle() const { return handle_; }

private:
    std::intptr_t handle_;
};

// The caller keeps the screen still (nothing decoded) across the render and
// the whole rewrite, so that the file shows it between two blocks of output.
// True when the file holds exactly the new snapshot (a failed flush still
// counts as true).
bool writeSnapshot(const Screen& screen, const SnapshotFile& file, bool useColor);

}  // namespace vtsnap
