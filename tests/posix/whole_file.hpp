// Reads a file that vtsnap rewrites in place as a reader should: under a
// shared flock(2), which waits for a rewrite under way to end, so that what
// is read is one whole snapshot.
#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <string>

namespace vtsnap::test {

// The file's bytes; empty when it cannot be opened.
inline std::string readWhole(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return {};
    flock(fd, LOCK_SH);
    std::string bytes;
    char buffer[65536];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) bytes.append(buffer, static_cast<std::size_t>(n));
    close(fd);  // and with it the lock
    return bytes;
}

}  // namespace vtsnap::test
