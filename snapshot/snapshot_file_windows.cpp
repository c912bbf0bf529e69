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

bool SnapshotFile::size(std::uint64_t& bytes) const {
    LARGE_INTEGER length{};
    if (GetFileType(handleOf(handle_)) != FILE_TYPE_DISK || !GetFileSizeEx(handleOf(handle_), &length)) return false;
    bytes = static_cast<std::uint64_t>(length.QuadPart);
    return true;
}

bool SnapshotFile::cutTo(std::uint64_t bytes) const {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(bytes);
    return SetFilePointerEx(handleOf(handle_), at, nullptr, FILE_BEGIN) != 0 && SetEndOfFile(handleOf(handle_)) != 0;
}

bool SnapshotFile::readerGone() {
    const DWORD error = GetLastError();
    return error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA;
}

}  // namespace vtsnap
