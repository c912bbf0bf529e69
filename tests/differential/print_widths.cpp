// Writes charWidth of every code point, U+0000 to U+10FFFF, as one signed
// byte each on standard output, for the comparison with xterm.js's widths
// (xterm_widths.js).
#include <cstdio>
#include <vector>

#include "terminal/char_width.hpp"

int main() {
    std::vector<signed char> widths(0x110000);
    for (char32_t c = 0; c < 0x110000; ++c) widths[c] = static_cast<signed char>(vtsnap::charWidth(c));
    return std::fwrite(widths.data(), 1, widths.size(), stdout) == widths.size() && std::fflush(stdout) == 0 ? 0 : 1;
}
