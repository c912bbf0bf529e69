// Standard input and output carry raw bytes: no newline translation.
#pragma once

namespace vtsnap {

void useBinaryStdio();

}  // namespace vtsnap
