#include <windows.h>

#include "snapshot/output_file.hpp"

namespace vtsnap {
namespace {

HANDLE handleOf(std::intptr_t nativeHandle) {
    return reinterpret_cast<HANDLE>(nativeHandle);
}

}  // namespace

bool OutputFile::seekToStart() const {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(handleOf(handle_), zero, nullptr, FILE_BEGIN) != 0;
}

WriteResult OutputFile::write(const char* data, std::uint32_t length) const {
    DWORD count = 0;
    if (WriteFile(handleOf(handle_), data, length, &count, nullptr)) return {count, true, false, 0};
    const DWORD error = GetLastError();
    // The platform's codes have no errno value; the caller names the failure.
    return {count, false, error == ERROR_BROKEN_PIPE || error == ERROR_NO_DATA, 0};
}

bool OutputFile::truncateHere() const {
    return SetEndOfFile(handleOf(handle_)) != 0;
}

bool OutputFile::flush() const {
    return FlushFileBuffers(handleOf(handle_)) != 0;
}

bool OutputFile::size(std::uint64_t& bytes) const {
    LARGE_INTEGER length{};
    if (GetFileType(handleOf(handle_)) != FILE_TYPE_DISK || !GetFileSizeEx(handleOf(handle_), &length)) return false;
    bytes = static_cast<std::uint64_t>(length.QuadPart);
    return true;
}

bool OutputFile::cutTo(std::uint64_t bytes) const {
    LARGE_INTEGER at{};
    at.QuadPart = static_cast<LONGLONG>(bytes);
    return SetFilePointerEx(handleOf(handle_), at, nullptr, FILE_BEGIN) != 0 && SetEndOfFile(handleOf(handle_)) != 0;
}

}  // namespace vtsnap
