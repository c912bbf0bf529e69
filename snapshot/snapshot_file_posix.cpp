// The snapshot file primitives on a POSIX file descriptor.
#include <unistd.h>

#include "snapshot/snapshot_file.hpp"

namespace vtsnap {

namespace {
int fd(std::intptr_t handle) { return static_cast<int>(handle); }
}  // namespace

bool SnapshotFile::seekToStart() const {
    return lseek(fd(handle_), 0, SEEK_SET) == 0;
}

bool SnapshotFile::write(const char* data, std::uint32_t length, std::uint32_t& written) const {
    written = 0;
    const ssize_t n = ::write(fd(handle_), data, length);
    if (n < 0) return false;
    written = static_cast<std::uint32_t>(n);
    return true;
}

bool SnapshotFile::truncateHere() const {
    const off_t end = lseek(fd(handle_), 0, SEEK_CUR);
    return end >= 0 && ftruncate(fd(handle_), end) == 0;
}

bool SnapshotFile::flush() const {
    return fsync(fd(handle_)) == 0;
}

}  // namespace vtsnap
