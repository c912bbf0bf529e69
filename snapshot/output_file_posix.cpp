// The output file primitives on a POSIX file descriptor.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "snapshot/native_file.hpp"
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

// A reader holds its shared lock only while it reads: one that holds it longer
// than this does not hold snapshots back.
bool OutputFile::lockForRewrite() const {
    constexpr int kTries = 200;  // a millisecond apart
    for (int i = 0; i < kTries; ++i) {
        if (flock(fd(handle_), LOCK_EX | LOCK_NB) == 0) return true;
        if (errno != EWOULDBLOCK && errno != EINTR) return false;
        usleep(1000);
    }
    return false;
}

void OutputFile::unlockAfterRewrite() const { flock(fd(handle_), LOCK_UN); }

namespace {

bool isNullDevice(const struct stat& info) {
    struct stat null {};
    return S_ISCHR(info.st_mode) && stat("/dev/null", &null) == 0 && S_ISCHR(null.st_mode) &&
           info.st_rdev == null.st_rdev;
}

NativeFile described(int descriptor, const struct stat& info) {
    NativeFile file;
    file.handle = descriptor;
    file.identity = {static_cast<std::uint64_t>(info.st_dev), 0, static_cast<std::uint64_t>(info.st_ino)};
    if (S_ISREG(info.st_mode))
        file.kind = FileKind::Regular;
    else if (isNullDevice(info))
        file.kind = FileKind::Null;
    else if (S_ISFIFO(info.st_mode) || S_ISSOCK(info.st_mode))
        file.kind = FileKind::Stream;
    else
        file.kind = FileKind::Device;
    return file;
}

}  // namespace

std::optional<NativeFile> openForWriting(const std::filesystem::path& path, bool append, std::string& reason) {
    const int flags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC | (append ? O_APPEND : 0);
    bool created = false;
    int descriptor = open(path.c_str(), flags);
    if (descriptor < 0 && errno == ENOENT) {
        // Created here, then, unless another process is quicker; a dangling
        // link is followed, and the file it names is this run's.
        descriptor = open(path.c_str(), flags | O_CREAT | O_EXCL, 0666);
        if (descriptor < 0 && errno == EEXIST) descriptor = open(path.c_str(), flags | O_CREAT, 0666);
        created = descriptor >= 0;
    }
    struct stat info {};
    if (descriptor < 0 || fstat(descriptor, &info) != 0) {
        reason = std::strerror(errno);
        if (descriptor >= 0) close(descriptor);
        return std::nullopt;
    }
    // Writes block as usual from now on.
    const int status = fcntl(descriptor, F_GETFL);
    if (status < 0 || fcntl(descriptor, F_SETFL, status & ~O_NONBLOCK) < 0) {
        reason = std::strerror(errno);
        close(descriptor);
        return std::nullopt;
    }
    NativeFile file = described(descriptor, info);
    file.created = created;
    return file;
}

std::optional<NativeFile> describeHandle(std::intptr_t handle) {
    struct stat info {};
    if (fstat(fd(handle), &info) != 0) return std::nullopt;
    return described(fd(handle), info);
}

std::optional<FileIdentity> identityOfPath(const std::filesystem::path& path) {
    struct stat info {};
    if (stat(path.c_str(), &info) != 0) return std::nullopt;
    return described(-1, info).identity;
}

bool emptyFile(std::intptr_t handle) { return ftruncate(fd(handle), 0) == 0; }

void closeFile(std::intptr_t handle) { close(fd(handle)); }

std::intptr_t standardOutputHandle() { return STDOUT_FILENO; }

bool namesReservedDevice(const std::filesystem::path&) { return false; }

}  // namespace vtsnap
