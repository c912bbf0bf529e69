// Turns a Screen into the exact bytes of the output file: UTF-8 with a BOM,
// the occupied rows with trailing blanks trimmed, CR LF line ends, and in
// colour mode SGR sequences for every change of colour.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

#include "terminal/screen.hpp"

namespace vtsnap {

inline constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

// The caller keeps the screen still (nothing decoded) for the call.
std::string renderSnapshot(const Screen& screen, bool useColor);

// The rows every rendering of the screen shows: from the first to the last
// that holds anything but spaces. first > last when there is none.
struct RowSpan {
    std::int32_t first = 0;
    std::int32_t last = -1;
};
RowSpan occupiedRows(const Screen& screen);

// The file's lines without the byte-order mark: the rows from the first to
// the last occupied one, appended to `out`.
void renderRows(std::string& out, const Screen& screen, bool useColor);

// One row as a line of the file, CR LF included, appended to `out`: each
// character once, followed by its marks. The second form takes the row as a
// row sink hands it over (RowView's constructor).
void renderRow(std::string& out, const RowView& row, bool useColor);
void renderRow(std::string& out, const char32_t* chars, const CellAttr* attrs, std::span<const CellMarks> marks,
               std::int32_t cols, bool useColor);

// renderRow's common case, into a plain buffer: a monochrome row whose cells
// are all ASCII, whatever their colours, is its bytes. Writes the line and its
// CR LF to `out`, which has room for `cols` + 2 bytes, and returns their
// length; returns 0 for any other row, which renderRow must then write.
std::size_t renderAsciiRow(char* out, const char32_t* chars, std::int32_t cols);

// Writes `count` cells as bytes at out, in one pass that also tells whether
// every cell was ASCII written as its own byte (no continuation cell, no
// marks); what it wrote is of no use otherwise.
bool narrowAscii(char* out, const char32_t* cells, std::size_t count);

void appendAscii(std::string& out, std::string_view text);
// One character, U+0001 to U+10FFFF, as UTF-8.
void appendUtf8(std::string& out, char32_t codePoint);
void appendDecimal(std::string& out, std::uint32_t value);

}  // namespace vtsnap
