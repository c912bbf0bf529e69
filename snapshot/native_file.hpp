// The platform's primitives beneath the run's files (outputs.hpp): opening
// without emptying, what a file is and which it is. POSIX in
// output_file_posix.cpp, Windows in output_file_windows.cpp.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace vtsnap {

// Which file it is: device and inode on POSIX, volume and file index on Windows.
struct FileIdentity {
    std::uint64_t device = 0;
    std::uint64_t fileHigh = 0;
    std::uint64_t fileLow = 0;
    bool operator==(const FileIdentity&) const = default;
};

enum class FileKind : std::uint8_t {
    Regular,  // a file on disk
    Null,     // the null device
    Stream,   // a pipe, a FIFO or a socket: its reader sees every byte once
    Device,   // a terminal, a console or another device
};

struct NativeFile {
    std::intptr_t handle = -1;
    FileKind kind = FileKind::Regular;
    FileIdentity identity;
    bool created = false;  // the name named no file before
};

// Opens `path` for writing, creating it but not emptying it, and without
// waiting for a FIFO's reader (one without a reader fails at once). Appended
// files write at the end whoever else writes to them. Empty, with the reason
// in `reason`, when it cannot be opened.
std::optional<NativeFile> openForWriting(const std::filesystem::path& path, bool append, std::string& reason);

// What an open handle is (standard input or output, an input file).
std::optional<NativeFile> describeHandle(std::intptr_t handle);

// The identity of the file that `path` names now, without opening it for
// reading or writing.
std::optional<FileIdentity> identityOfPath(const std::filesystem::path& path);

bool emptyFile(std::intptr_t handle);
void closeFile(std::intptr_t handle);
std::intptr_t standardOutputHandle();

// A name the platform takes for a device, other than the null device, in any
// directory (Windows: CON, AUX, PRN, COM1-9, LPT1-9, with any extension).
bool namesReservedDevice(const std::filesystem::path& path);

}  // namespace vtsnap
