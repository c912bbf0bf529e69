// The capture run on Windows: the child in a pseudo console, a reader thread
// decoding its output, and the output file rewritten every 500 ms.
#pragma once

#include <windows.h>

#include <mutex>

#include "terminal/screen.hpp"

namespace vtsnap {

inline constexpr SHORT kColumns = 120;
inline constexpr DWORD kReadSize = 4096;
inline constexpr DWORD kSnapshotInterval = 500;  // milliseconds

struct ReaderContext {
    HANDLE outputRead;
    Screen* screen;
    std::mutex* lock;  // held across each block and each snapshot
};

// The tool's entry procedure; its result is the process exit code.
int runCapture();

BOOL WINAPI consoleCtrlHandler(DWORD controlType);

// Decodes the pseudo console's output until the pipe breaks.
DWORD WINAPI readerThread(LPVOID parameter);

// Decodes whatever the pipe holds right now without blocking; false once the
// pipe has broken. Used on the main thread when no reader thread could start.
bool drainPipe(HANDLE pipe, Screen& screen, std::mutex& lock);

// True when stdin, stdout and stderr are all console handles.
bool standardHandlesAreConsoles();

}  // namespace vtsnap
