// The row view every renderer reads: bytes in, a row's runs of colour and its
// characters (with their widths and marks) out, and the cursor.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "terminal/screen.hpp"
#include "tests/render_stream.hpp"

#define CSI "\x1b["

namespace vtsnap::test {
namespace {

std::string colour(ColorValue v) { return v == kDefaultColor ? "-" : std::to_string(v); }

// Row 0 of an 8-column screen: "col+width:fg/bg" for each run up to the last
// painted cell, then "col:width:U+XXXX+marks" for each character up to the
// file's line end.
std::string describe(std::string_view bytes) {
    Screen screen(8, 3);
    feed(screen, bytes);
    const RowView row = screen.row(0);
    std::string out;
    for (const CellRun& run : row.runs(0, row.paintEnd()))
        out += std::to_string(run.col) + "+" + std::to_string(run.width) + ":" + colour(run.attr.fg) + "/" +
               colour(run.attr.bg) + " ";
    out += "|";
    char hex[16];
    for (const CellText& t : row.characters(0, row.textEnd())) {
        std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(t.ch));
        out += " " + std::to_string(t.col) + ":" + std::to_string(t.width) + ":" + hex;
        for (char32_t m : t.marks) {
            std::snprintf(hex, sizeof hex, "+%X", static_cast<unsigned>(m));
            out += hex;
        }
    }
    return out;
}

TEST(RowView, RunsAndCharacters) {
    struct Case {
        std::string_view bytes;
        std::string_view want;
    };
    const Case cases[] = {
        {"", "|"},
        {"ab", "0+2:-/- | 0:1:61 1:1:62"},
        {"a" CSI "31mb" CSI "44mc" CSI "0m" CSI "46m" CSI "K", "0+1:-/- 1+1:1/- 2+1:1/4 3+5:-/6 | 0:1:61 1:1:62 2:1:63"},
        // A wide character is one character of two cells, in one run.
        {"x\xe4\xb8\xad" CSI "32my", "0+3:-/- 3+1:2/- | 0:1:78 1:2:4E2D 3:1:79"},
        // Marks come with the character they join, wherever it is.
        {"e\xcc\x81\xcc\xa3 \xe4\xb8\xad\xe2\x80\x8d" "z",
         "0+5:-/- | 0:1:65+301+323 1:1:20 2:2:4E2D+200D 4:1:7A"},
        // Coloured blanks are painted but hold no text.
        {CSI "41m  " CSI "0m", "0+2:-/1 |"},
        // TABs trailing the text are no part of its line.
        {"a\t", "0+1:-/- | 0:1:61"},
    };
    for (const Case& c : cases) EXPECT_EQ(describe(c.bytes), c.want) << testing::PrintToString(std::string(c.bytes));
}

TEST(RowView, CellAndCursor) {
    Screen screen(6, 2);
    feed(screen, "\xe4\xb8\xad" "e\xcc\x81" CSI "2;4H");
    const RowView row = screen.row(0);
    EXPECT_EQ(row.cell(0).width, 2);
    EXPECT_EQ(row.cell(0).ch, U'\u4E2D');
    EXPECT_EQ(row.cell(1).width, 0);  // the second half shows nothing
    EXPECT_EQ(row.cell(1).ch, 0u);
    EXPECT_EQ(std::u32string(row.cell(2).marks), U"\u0301");
    EXPECT_EQ(row.cell(3).ch, U' ');
    EXPECT_EQ(screen.cursor(), (Screen::Cursor{1, 3}));
    // The cursor stays in the last column while a wrap is pending.
    feed(screen, "abc");
    EXPECT_EQ(screen.cursor(), (Screen::Cursor{1, 5}));
}

}  // namespace
}  // namespace vtsnap::test
