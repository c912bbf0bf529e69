// The number of cells a code point takes: 2 (East Asian Wide and Fullwidth,
// emoji presented as emoji), 1, 0 (joins the character before it: combining
// marks, zero-width and format characters), or -1 for code points that are
// never shown (controls, surrogates, noncharacters, U+2028, U+2029, U+FEFF).
// Unicode 15.0, ambiguous characters narrow, agreeing with xterm.js's Unicode 11
// widths on every character Unicode 11 has (tools/make_width_table.py says
// where the two sets of rules part and why).
//
// Every non-ASCII character passes here: nearly all are answered by one load
// from a flat table made from the generated one, the rest take two.
#pragma once

#include <array>
#include <cstdint>

#include "terminal/char_width_table.hpp"

namespace vtsnap {

namespace char_width_detail {

// Code points that one load answers: the Basic Multilingual Plane (Latin,
// Greek, Cyrillic, box drawing, CJK, Hangul) and the plane after it (letters
// for mathematics, emoji).
inline constexpr std::uint32_t kFlatCodePoints = 0x20000;

// The byte of the generated table that holds the widths of `cp` and of the
// three code points beside it (from cp & ~3 up), two bits each.
constexpr std::uint32_t packedWidths(std::uint32_t cp) {
    using namespace char_width_table;
    const std::uint32_t block = kWidthBlocks[cp >> kBlockShift];
    return kWidthCells[block * kBlockBytes + ((cp & ((1u << kBlockShift) - 1)) >> 2)];
}

// The generated table's two steps, for any code point.
constexpr int tableWidth(char32_t c) {
    // Beyond U+10FFFF: read as U+FFFF, a noncharacter (a conditional move).
    const std::uint32_t cp = c < 0x110000 ? static_cast<std::uint32_t>(c) : 0xFFFFu;
    return static_cast<int>((packedWidths(cp) >> ((cp & 3) * 2)) & 3) - 1;
}

// A byte a code point (width), for the code points above: 128 KB, of which
// running text touches a few lines. Made at compile time in char_width.cpp,
// so that only that file pays for making it.
extern const std::array<std::int8_t, kFlatCodePoints> kFlatWidths;

}  // namespace char_width_detail

// One compare and one load; only the rarer planes take the two steps.
inline int charWidth(char32_t c) {
    using namespace char_width_detail;
    if (c >= kFlatCodePoints) [[unlikely]]
        return tableWidth(c);
    return kFlatWidths[c];
}

}  // namespace vtsnap
