// What a cell of the screen holds: the code point of the character that
// starts in it, with kHasMarks set when marks (combining and zero-width
// characters) join that character. A wide character takes two cells; the
// second holds kWideContinuation and shows nothing of its own. The decoder
// hands text on in this form, so a run of text is a run of cells.
#pragma once

#include <cstdint>
#include <string>

#include "terminal/color.hpp"

namespace vtsnap {

inline constexpr char32_t kWideContinuation = 0;
inline constexpr char32_t kHasMarks = 0x80000000u;
inline constexpr char32_t kCodePointMask = 0x1FFFFFu;

// A cell's colours. Both halves of a wide character have the same.
struct CellAttr {
    ColorValue fg = kDefaultColor;
    ColorValue bg = kDefaultColor;
    friend bool operator==(const CellAttr&, const CellAttr&) = default;
};

// The marks that join the character in column `col`, in the order they came.
// A row keeps one entry for each cell with kHasMarks, in column order.
struct CellMarks {
    std::int32_t col;
    std::u32string marks;
};

}  // namespace vtsnap
