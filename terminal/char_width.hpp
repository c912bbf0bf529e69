// The number of cells a code point takes: 2 (East Asian Wide and Fullwidth,
// emoji presented as emoji), 1, 0 (joins the character before it: combining
// marks, zero-width and format characters), or -1 for code points that are
// never shown (controls, surrogates, noncharacters, U+2028, U+2029, U+FEFF).
// Unicode 15.0, ambiguous characters narrow, agreeing with xterm.js's Unicode 11
// widths on every character Unicode 11 has (tools/make_width_table.py says
// where the two sets of rules part and why).
//
// Every non-ASCII character passes here: two loads and a few shifts, no
// branch, from 11 KB of constant tables.
#pragma once

#include <cstdint>

#include "terminal/char_width_table.hpp"

namespace vtsnap {

constexpr int charWidth(char32_t c) {
    using namespace char_width_table;
    // Beyond U+10FFFF: read as U+FFFF, a noncharacter (a conditional move).
    const std::uint32_t cp = c < 0x110000 ? static_cast<std::uint32_t>(c) : 0xFFFFu;
    const std::uint32_t block = kWidthBlocks[cp >> kBlockShift];
    const std::uint32_t packed = kWidthCells[block * kBlockBytes + ((cp & ((1u << kBlockShift) - 1)) >> 2)];
    return static_cast<int>((packed >> ((cp & 3) * 2)) & 3) - 1;
}

}  // namespace vtsnap
