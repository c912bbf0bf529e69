// The screen as a picture: one standalone SVG of the text file's rows, each
// cell in its colours and at its own place, coloured blanks kept as the page
// keeps them. The same screen gives the same bytes. No script, no external
// reference, no event attribute; whatever a program writes reaches the
// picture as text, and the file is well-formed XML.
#pragma once

#include <cstdint>
#include <string>

#include "terminal/screen.hpp"

namespace vtsnap {

// A cell's box in the picture, in pixels, and the margin around the screen.
inline constexpr std::int32_t kSvgCellWidth = 9;
inline constexpr std::int32_t kSvgCellHeight = 18;
inline constexpr std::int32_t kSvgMargin = 8;

// Appends to `out`; the caller keeps the screen still (nothing decoded) for
// the call.
void renderSvg(std::string& out, const Screen& screen);

}  // namespace vtsnap
