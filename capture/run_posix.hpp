// The capture run on POSIX systems: the child on a pseudo terminal of its own,
// a reader thread decoding its output, and the capture loop's snapshots.
#pragma once

namespace vtsnap {

// The terminal type the child is told about: one whose sequences the
// emulator interprets (see README).
inline constexpr const char* kTerminalType = "screen-256color";

// The tool's entry procedure; its result is the process exit code.
int runCapture(int argc, char** argv);

}  // namespace vtsnap
