// The snapshot file primitives on a POSIX file descriptor.
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "snapshot/output_file.hpp"

namespace vtsnap {

namespace {
int fd(std::intptr_t handle) { return static_cast<int>(handle); }
}  // namespace

bool OutputFile::seekToStart() const {
    return lseek(fd(handle_), 0, SEEK_SET) == 0;
}

WriteResult OutputFile::write(const char* data, std::uint32_t length) const {
    const ssize_t n = ::write(fd(handle_), data, length);
    if (n >= 0) return {static_cast<std::uint32_t>(n), true, false, 0};
    const int error = errno;
    return {0, false, error == EPIPE, error};
}

bool OutputFile::truncateHere() const {
    const off_t end = lseek(fd(handle_), 0, SEEK_CUR);
    return end >= 0 && ftruncate(fd(handle_), end) == 0;
}

bool OutputFile::flush() const {
    return fsync(fd(handle_)) == 0;
}

bool OutputFile::size(std::uint64_t& bytes) const {
    struct stat info {};
    if (fstat(fd(handle_), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    bytes = static_cast<std::uint64_t>(info.st_size);
    return true;
}

bool OutputFile::cutTo(std::uint64_t bytes) const {
    const auto end = static_cast<off_t>(bytes);
    return ftruncate(fd(handle_), end) == 0 && lseek(fd(handle_), end, SEEK_SET) == end;
}

}  // namespace vtsnap
