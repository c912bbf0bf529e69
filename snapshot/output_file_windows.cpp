// The output file primitives on a Windows HANDLE.
#include <windows.h>

#include <string_view>

#include "snapshot/native_file.hpp"
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

// No lock: a byte-range lock on Windows makes a plain reader's ReadFile fail.
bool OutputFile::lockForRewrite() const { return false; }

void OutputFile::unlockAfterRewrite() const {}

namespace {

bool isConsoleHandle(HANDLE handle) {
    DWORD mode = 0;
    return GetConsoleMode(handle, &mode) != 0;
}

std::string describeError(DWORD error) {
    char text[256] = {};
    const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0,
                                        text, sizeof text, nullptr);
    std::string reason(text, length);
    while (!reason.empty() && (reason.back() == '\r' || reason.back() == '\n' || reason.back() == '.'))
        reason.pop_back();
    return reason.empty() ? "error " + std::to_string(error) : reason;
}

// The device part of a name: its last component up to the first dot, less
// the blanks and dots the platform ignores, in upper case.
std::wstring deviceStem(const std::filesystem::path& path) {
    const std::wstring& name = path.native();
    const std::size_t separator = name.find_last_of(L"\\/:");
    const std::size_t start = separator == std::wstring::npos ? 0 : separator + 1;
    const std::size_t dot = name.find(L'.', start);
    std::wstring stem = name.substr(start, dot == std::wstring::npos ? std::wstring::npos : dot - start);
    while (!stem.empty() && (stem.back() == L' ' || stem.back() == L'.')) stem.pop_back();
    for (wchar_t& c : stem)
        if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
    return stem;
}

// A stem the platform takes for a device in any directory, NUL included.
bool isDeviceStem(std::wstring_view stem) {
    if (stem == L"CON" || stem == L"AUX" || stem == L"PRN" || stem == L"NUL" || stem == L"CONIN$" ||
        stem == L"CONOUT$")
        return true;
    return stem.size() == 4 && (stem.substr(0, 3) == L"COM" || stem.substr(0, 3) == L"LPT") && stem[3] >= L'1' &&
           stem[3] <= L'9';
}

bool namesNull(const std::filesystem::path& path) { return deviceStem(path) == L"NUL"; }

NativeFile described(HANDLE handle, bool nullByName) {
    NativeFile file;
    file.handle = reinterpret_cast<std::intptr_t>(handle);
    switch (GetFileType(handle)) {
    case FILE_TYPE_DISK: {
        file.kind = FileKind::Regular;
        BY_HANDLE_FILE_INFORMATION info{};
        if (GetFileInformationByHandle(handle, &info))
            file.identity = {info.dwVolumeSerialNumber, info.nFileIndexHigh, info.nFileIndexLow};
        break;
    }
    case FILE_TYPE_PIPE: file.kind = FileKind::Stream; break;
    default:
        // Only NUL is the null device: a console, or any other character
        // device, is a device.
        file.kind = nullByName && !isConsoleHandle(handle) ? FileKind::Null : FileKind::Device;
        break;
    }
    return file;
}

}  // namespace

std::optional<NativeFile> openForWriting(const std::filesystem::path& path, bool /*append*/, std::string& reason) {
    // Readers may share it. Appended files are written at the position the
    // run keeps, which nothing else moves.
    const HANDLE handle = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    const DWORD error = GetLastError();
    if (handle == INVALID_HANDLE_VALUE) {
        reason = describeError(error);
        return std::nullopt;
    }
    NativeFile file = described(handle, namesNull(path));
    file.created = error != ERROR_ALREADY_EXISTS;
    return file;
}

std::optional<NativeFile> describeHandle(std::intptr_t handle) {
    const HANDLE native = handleOf(handle);
    if (native == nullptr || native == INVALID_HANDLE_VALUE) return std::nullopt;
    return described(native, false);
}

std::optional<FileIdentity> identityOfPath(const std::filesystem::path& path) {
    // No access asked for, and every kind of sharing allowed: only its identity is read.
    const HANDLE handle = CreateFileW(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return std::nullopt;
    const NativeFile file = described(handle, false);
    CloseHandle(handle);
    if (file.kind != FileKind::Regular) return std::nullopt;
    return file.identity;
}

bool emptyFile(std::intptr_t handle) {
    LARGE_INTEGER zero{};
    return SetFilePointerEx(handleOf(handle), zero, nullptr, FILE_BEGIN) != 0 && SetEndOfFile(handleOf(handle)) != 0;
}

void closeFile(std::intptr_t handle) { CloseHandle(handleOf(handle)); }

std::intptr_t standardOutputHandle() { return reinterpret_cast<std::intptr_t>(GetStdHandle(STD_OUTPUT_HANDLE)); }

bool namesReservedDevice(const std::filesystem::path& path) {
    const std::wstring stem = deviceStem(path);
    return isDeviceStem(stem) && stem != L"NUL";
}

}  // namespace vtsnap
