#include "tools/binary_stdio.hpp"

#include <fcntl.h>
#include <io.h>

#include <cstdio>

namespace vtsnap {

// Text mode would turn LF into CR LF on output and stop reading at Ctrl+Z.
void useBinaryStdio() {
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
}

std::intptr_t nativeHandleOf(std::FILE* file) { return _get_osfhandle(_fileno(file)); }

}  // namespace vtsnap
