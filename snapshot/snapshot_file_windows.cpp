#include <windows.h>

#include "snapshot/snapshot_file.hpp"

namespace vtsnap {
namespace {

HANDLE handleOf(std::intptr_t nativeHandle) {
    return reinterpret_cast<HANDLE>(nativeHandle);
}

}  // namespace

bool SnapshotFile::seekToStart() const {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(handleOf(handle_), zero, nullptr, FILE_BEGIN) != 0;
}

bool SnapshotFile::write(const char* data, std::uint32_t length, std::uint32_t& written) const {
    DWORD count = 0;
    const BOOL ok = WriteFile(handleOf(handle_), data, length, &count, nullptr);
    written = count;
    return ok != 0;
}

bool SnapshotFile::truncateHere() const {
    return SetEndOfFile(handleOf(handle_)) != 0;
}

bool SnapshotFile::flush() const {
    return FlushFileBuffers(handleOf(handle_)) != 0;
}

}  // namespace vtsnap
