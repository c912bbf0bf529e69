// The platform's side of the tool's files: raw bytes on standard input and
// output, and the handle beneath a stream.
#pragma once

#include <cstdint>
#include <cstdio>

namespace vtsnap {

// Standard input and output carry raw bytes: no newline translation.
void useBinaryStdio();

// The descriptor (POSIX) or HANDLE (Windows) that `file` reads and writes.
std::intptr_t nativeHandleOf(std::FILE* file);

}  // namespace vtsnap
