// Placeholder until the generated table lands: a few ranges, laid into a
// two-stage table at start so that a lookup costs what the real one will.
#pragma once

#include <array>
#include <cstdint>

namespace vtsnap {

namespace char_width_detail {

inline int slowWidth(char32_t c) {
    if (c < 0x20 || (c >= 0x7F && c < 0xA0)) return -1;
    if (c == 0x2028 || c == 0x2029 || (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE) return -1;
    if (c >= 0xD800 && c <= 0xDFFF) return -1;
    if (c < 0x300) return 1;
    if ((c >= 0x300 && c <= 0x36F) || (c >= 0x1160 && c <= 0x11FF) || c == 0x200B || c == 0x200C || c == 0x200D ||
        (c >= 0x2060 && c <= 0x2064) || (c >= 0xFE00 && c <= 0xFE0F) || (c >= 0x20D0 && c <= 0x20FF))
        return 0;
    if ((c >= 0x1100 && c <= 0x115F) || (c >= 0x2E80 && c <= 0x303E) || (c >= 0x3041 && c <= 0x33FF) ||
        (c >= 0x3400 && c <= 0x4DBF) || (c >= 0x4E00 && c <= 0x9FFF) || (c >= 0xAC00 && c <= 0xD7A3) ||
        (c >= 0xF900 && c <= 0xFAFF) || (c >= 0xFF00 && c <= 0xFF60) || (c >= 0xFFE0 && c <= 0xFFE6) ||
        c == 0x2705 || c == 0x274C || (c >= 0x1F300 && c <= 0x1F64F) || (c >= 0x1F680 && c <= 0x1F6FF) ||
        (c >= 0x1F4E6 && c <= 0x1F4E6) || (c >= 0x20000 && c <= 0x3FFFD))
        return 2;
    return 1;
}

struct Table {
    std::array<std::uint8_t, 0x110000 / 256> stage1{};
    std::array<std::array<std::int8_t, 256>, 256> blocks{};
    Table() {
        int used = 0;
        for (char32_t hi = 0; hi < 0x110000 / 256; ++hi) {
            std::array<std::int8_t, 256> b{};
            for (char32_t lo = 0; lo < 256; ++lo) b[lo] = static_cast<std::int8_t>(slowWidth(hi * 256 + lo));
            int found = -1;
            for (int i = 0; i < used; ++i)
                if (blocks[static_cast<std::size_t>(i)] == b) found = i;
            if (found < 0) {
                found = used++;
                blocks[static_cast<std::size_t>(found)] = b;
            }
            stage1[hi] = static_cast<std::uint8_t>(found);
        }
    }
};

inline const Table kTable;

}  // namespace char_width_detail

inline int charWidth(char32_t c) {
    if (c >= 0x110000) return -1;
    return char_width_detail::kTable.blocks[char_width_detail::kTable.stage1[c >> 8]][c & 0xFF];
}

}  // namespace vtsnap
