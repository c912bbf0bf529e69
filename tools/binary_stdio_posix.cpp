#include "tools/binary_stdio.hpp"

namespace vtsnap {

// POSIX streams never translate line ends.
void useBinaryStdio() {}

std::intptr_t nativeHandleOf(std::FILE* file) { return fileno(file); }

}  // namespace vtsnap
