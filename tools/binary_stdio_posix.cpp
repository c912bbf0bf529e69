#include "tools/binary_stdio.hpp"

namespace vtsnap {

// POSIX streams never translate line ends.
void useBinaryStdio() {}

}  // namespace vtsnap
