// The capture run on Windows: the child in a pseudo console, a reader thread
// decoding its output, and the capture loop's snapshots.
#pragma once

#include <windows.h>

#include "capture/capture_loop.hpp"

namespace vtsnap {

struct ReaderContext {
    HANDLE outputRead;
    CaptureLoop* loop;
};

// The tool's entry procedure; its result is the process exit code.
int runCapture();

BOOL WINAPI consoleCtrlHandler(DWORD controlType);

// Decodes the pseudo console's output until the pipe breaks.
DWORD WINAPI readerThread(LPVOID parameter);

// Decodes whatever the pipe holds right now without blocking; false once the
// pipe has broken. Used on the main thread when no reader thread could start.
bool decodeWaitingOutput(HANDLE pipe, CaptureLoop& loop);

// True when stdin, stdout and stderr are all console handles.
bool standardHandlesAreConsoles();

}  // namespace vtsnap
