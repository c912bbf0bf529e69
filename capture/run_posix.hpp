// The capture run on POSIX systems: the child on a pseudo terminal of its own,
// a reader thread decoding its output, and the output file rewritten every
// 500 ms.
#pragma once

#include <mutex>

#include "terminal/screen.hpp"

namespace vtsnap {

inline constexpr int kColumns = 120;
inline constexpr int kReadSize = 4096;
inline constexpr int kSnapshotIntervalMs = 500;

// The terminal type the child is told about: one whose sequences the
// emulator interprets (see README).
inline constexpr const char* kTerminalType = "screen-256color";

struct ReaderContext {
    int master;    // the pty's master end, non-blocking
    int stopRead;  // readable once the child has ended: drain, then stop
    Screen* screen;
    std::mutex* lock;  // held across each block and each snapshot
};

// The tool's entry procedure; its result is the process exit code.
int runCapture(int argc, char** argv);

// Decodes the terminal's output until told to stop and the output has drained.
void* readerThread(void* parameter);

}  // namespace vtsnap
