// The file format: which rows appear, trimming, TAB, the colour sequences,
// and the conversion of each run to UTF-8. Cells are set directly here, so
// that every combination of characters and colours can be built.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "snapshot/render.hpp"
#include "tests/render_stream.hpp"
#include "tests/screen_access.hpp"

#define ESC "\x1b"
#define CSI "\x1b["

namespace vtsnap::test {
namespace {

constexpr CellAttr kDefault{};
constexpr CellAttr kRed{1, kDefaultColor};
constexpr CellAttr kOnBlue{kDefaultColor, 4};

// SGR for exactly this pair of colours, so that cells are written through
// the terminal's own operations.
std::string sgrOf(CellAttr attr) {
    auto one = [](bool fg, ColorValue v) -> std::string {
        if (v == kDefaultColor) return fg ? "39" : "49";
        const std::string lead = fg ? "38;" : "48;";
        if (v & kDirectColorFlag)
            return lead + "2;" + std::to_string((v >> 16) & 0xFF) + ";" + std::to_string((v >> 8) & 0xFF) + ";" +
                   std::to_string(v & 0xFF);
        return lead + "5;" + std::to_string(v);
    };
    return CSI + one(true, attr.fg) + ";" + one(false, attr.bg) + "m";
}

void put(Screen& screen, int row, int col, std::u32string_view text, CellAttr attr = kDefault) {
    feed(screen, CSI + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H" + sgrOf(attr));
    for (char32_t c : text) inspect(screen).putChar(c);
}

std::string renderColor(Screen& screen) { return render(screen, true); }

TEST(RenderRows, BlankScreenIsTheByteOrderMarkAlone) {
    Screen screen(120, 100);
    EXPECT_EQ(render(screen), kBom);
    EXPECT_EQ(renderColor(screen), kBom);
}

TEST(RenderRows, OnlyOccupiedRangeIsWritten) {
    Screen screen(120, 100);
    put(screen, 3, 0, U"abc");
    EXPECT_EQ(render(screen), "\xEF\xBB\xBF" "abc\r\n");
    put(screen, 6, 4, U"x");
    EXPECT_EQ(render(screen), fileOf({"abc", "", "", "    x"}));
}

TEST(RenderRows, LeadingBlanksStayTrailingBlanksGo) {
    Screen screen(120, 10);
    put(screen, 0, 0, U"  x  y");
    put(screen, 0, 119, U" ");
    EXPECT_EQ(render(screen), fileOf({"  x  y"}));
}

TEST(RenderRows, LastColumnAndLastRowAreWritten) {
    Screen screen(4, 3);
    put(screen, 0, 3, U"v");
    put(screen, 2, 0, U"wxyz");
    EXPECT_EQ(render(screen), fileOf({"   v", "", "wxyz"}));
}

TEST(RenderRows, NulIsNeverWritten) {
    Screen screen(10, 1);
    put(screen, 0, 0, std::u32string_view(U"a\0b", 3));
    EXPECT_EQ(render(screen), fileOf({"ab"}));
}

TEST(RenderColor, MixedRowExactBytes) {
    Screen screen(120, 5);
    put(screen, 0, 0, U"Hi", kRed);
    put(screen, 0, 3, U"OK", {kDefaultColor, 0x01FF8000});
    EXPECT_EQ(renderColor(screen),
              "\xEF\xBB\xBF"
              "\x1b\x5b\x33\x31\x6d\x48\x69\x1b\x5b\x33\x39\x6d\x20\x1b\x5b\x34\x38\x3b\x32\x3b\x32\x35\x35"
              "\x3b\x31\x32\x38\x3b\x30\x6d\x4f\x4b\x1b\x5b\x30\x6d\x0d\x0a");
    EXPECT_EQ(render(screen), "\xEF\xBB\xBF" "Hi OK\r\n");
}

TEST(RenderColor, DefaultRowHasNoSequences) {
    Screen screen(10, 2);
    put(screen, 0, 0, U"plain");
    put(screen, 1, 1, U"text");
    EXPECT_EQ(renderColor(screen), fileOf({"plain", " text"}));
}

TEST(RenderColor, EveryRowStartsFromDefault) {
    Screen screen(10, 2);
    put(screen, 0, 0, U"ab", kRed);
    put(screen, 1, 0, U"cd", kRed);
    EXPECT_EQ(renderColor(screen), fileOf({CSI "31mab" CSI "0m", CSI "31mcd" CSI "0m"}));
}

TEST(RenderColor, OnlyTheChangedColourIsWritten) {
    Screen screen(10, 1);
    put(screen, 0, 0, U"ab", kOnBlue);
    put(screen, 0, 2, U"cd", {1, 4});
    put(screen, 0, 4, U"ef", {1, kDefaultColor});
    EXPECT_EQ(renderColor(screen), fileOf({CSI "44mab" CSI "31mcd" CSI "49mef" CSI "0m"}));
}

TEST(RenderColor, ColouredTrailingBlanksAreDroppedWithTheirColour) {
    Screen screen(10, 1);
    put(screen, 0, 0, U"a");
    put(screen, 0, 1, U"      ", kOnBlue);
    put(screen, 0, 7, U"\t\t", kRed);
    EXPECT_EQ(renderColor(screen), fileOf({"a"}));
}

TEST(RenderColor, ColouredBlanksBeforeTextAreWritten) {
    Screen screen(10, 1);
    put(screen, 0, 0, U"  ", kOnBlue);
    put(screen, 0, 2, U"z");
    EXPECT_EQ(renderColor(screen), fileOf({CSI "44m  " CSI "49mz"}));
}

TEST(RenderColor, ColourValuesToSequences) {
    const struct {
        ColorValue value;
        std::string_view fg;
        std::string_view bg;
    } cases[] = {
        {0, CSI "30m", CSI "40m"},
        {7, CSI "37m", CSI "47m"},
        {8, CSI "90m", CSI "100m"},
        {15, CSI "97m", CSI "107m"},
        {16, CSI "38;5;16m", CSI "48;5;16m"},
        {255, CSI "38;5;255m", CSI "48;5;255m"},
        {0x01000000, CSI "38;2;0;0;0m", CSI "48;2;0;0;0m"},
        {0x010A141E, CSI "38;2;10;20;30m", CSI "48;2;10;20;30m"},
        {0x016400C8, CSI "38;2;100;0;200m", CSI "48;2;100;0;200m"},
        {105, CSI "38;5;105m", CSI "48;5;105m"},
        {0x01FFFFFF, CSI "38;2;255;255;255m", CSI "48;2;255;255;255m"},
    };
    for (const auto& c : cases) {
        Screen screen(10, 2);
        put(screen, 0, 0, U"f", {c.value, kDefaultColor});
        put(screen, 1, 0, U"b", {kDefaultColor, c.value});
        EXPECT_EQ(renderColor(screen),
                  fileOf({std::string(c.fg) + "f" CSI "0m", std::string(c.bg) + "b" CSI "0m"}))
            << "colour " << c.value;
    }
}

// Rows of every width around the steps of the fast paths (16 cells, 4 cells,
// 64-cell words, rows past 256 cells), colours changing at random cells,
// against a model that writes each cell's changed colours before it. Most
// rows are ASCII; some hold a character beyond it and take the general way.
TEST(RenderColor, RowsMatchAModel) {
    auto sequence = [](bool fg, ColorValue v) -> std::string {
        const std::string lead = fg ? CSI "3" : CSI "4";
        if (v == kDefaultColor) return lead + "9m";
        if (v < 8) return lead + std::to_string(v) + "m";
        if (v < 16) return (fg ? CSI "9" : CSI "10") + std::to_string(v - 8) + "m";
        if (v & kDirectColorFlag)
            return lead + "8;2;" + std::to_string((v >> 16) & 0xFF) + ";" + std::to_string((v >> 8) & 0xFF) + ";" +
                   std::to_string(v & 0xFF) + "m";
        return lead + "8;5;" + std::to_string(v) + "m";
    };
    auto model = [&](const std::u32string& chars, const std::vector<CellAttr>& attrs) {
        std::size_t end = chars.size();
        while (end > 0 && (chars[end - 1] == U' ' || chars[end - 1] == U'\t')) --end;
        std::string line;
        CellAttr previous;
        for (std::size_t c = 0; c < end; ++c) {
            if (attrs[c].fg != previous.fg) line += sequence(true, attrs[c].fg);
            if (attrs[c].bg != previous.bg) line += sequence(false, attrs[c].bg);
            previous = attrs[c];
            appendUtf8(line, chars[c]);
        }
        if (previous != CellAttr{}) line += CSI "0m";
        return line + "\r\n";
    };
    const ColorValue colours[] = {kDefaultColor, 0, 7, 8, 15, 16, 99, 255, 0x01000000, 0x01FF0A64};
    std::mt19937 random(7);
    auto pick = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
    for (const int cols : {1, 2, 3, 4, 5, 7, 8, 15, 16, 17, 31, 63, 64, 65, 67, 68, 120, 128, 255, 256, 257, 300}) {
        for (int trial = 0; trial < 40; ++trial) {
            const auto width = static_cast<std::size_t>(cols);
            std::u32string chars(width, U' ');
            std::vector<CellAttr> attrs(width);
            const std::size_t runLength = 1 + pick(trial % 2 == 0 ? 4 : 40);
            CellAttr attr;
            for (std::size_t c = 0; c < width; ++c) {
                if (pick(runLength) == 0) attr = {colours[pick(std::size(colours))], colours[pick(std::size(colours))]};
                attrs[c] = attr;
                const std::size_t kind = pick(10);
                chars[c] = kind < 6 ? static_cast<char32_t>(U'!' + pick(94)) : kind < 9 ? U' ' : U'\t';
            }
            if (trial % 5 == 4) chars[pick(width)] = U'\u00E9';
            for (std::size_t blank = pick(width + 1); blank < width; ++blank) chars[blank] = U' ';  // trailing
            std::string line;
            renderRow(line, RowView(chars.data(), attrs.data(), {}, cols), true);
            ASSERT_EQ(line, model(chars, attrs)) << cols << " cells, trial " << trial;
        }
    }
}

// The fast path takes every row of ASCII text, whichever characters it mixes,
// and leaves every other row to renderRow, which writes the same line.
TEST(RenderRows, AsciiRowsTakeTheFastPath) {
    const struct {
        std::u32string_view cells;
        bool ascii;
    } cases[] = {
        {U"plain text: a space and all 26 letters", true},
        {U" !\"#$%&'()*+,-./0123456789:;<=>?@AZ[\\]^_`az{|}~", true},
        {U"\tafter a TAB", true},
        {U"caf\u00E9", false},
        {U"\u0080 C1 would be two bytes", false},
        {std::u32string_view(U"a\0b", 3), false},  // a continuation cell
        {U"\u4E2D\u6587 wide", false},
        {U"\U0001F600 emoji", false},
    };
    const std::vector<CellAttr> plain(120);
    for (std::size_t i = 0; i < std::size(cases); ++i) {
        std::u32string row(cases[i].cells);
        row.resize(120, U' ');
        std::string fast(122, '\0');
        const std::size_t length = renderAsciiRow(fast.data(), row.data(), 120);
        EXPECT_EQ(length != 0, cases[i].ascii) << "case " << i;
        std::string general;
        renderRow(general, RowView(row.data(), plain.data(), {}, 120), false);
        if (length != 0) {
            EXPECT_EQ(fast.substr(0, length), general) << "case " << i;
        }
    }
    // A character with marks has more to write than its cell.
    std::u32string marked(120, U'e');
    marked[3] |= kHasMarks;
    std::string fast(122, '\0');
    EXPECT_EQ(renderAsciiRow(fast.data(), marked.data(), 120), 0u);
}

// Characters of every plane beyond ASCII and C1 (every one of the first),
// wide, narrow and marks among them, each between ASCII letters, read back
// by the decoder: the cells and their marks come back.
TEST(RenderUtf8, EveryCharacterReadsBack) {
    for (char32_t first = 0xA0; first <= 0x10FFFF; first += first < 0x10000 ? 60 : 60 * 31) {
        std::u32string row;
        for (char32_t c = first; c < first + 60 && c <= 0x10FFFF; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF) continue;
            row += c;
            row += c % 3 == 0 ? U'x' : c ^ 1;
        }
        if (row.empty()) continue;
        Screen screen(120, 4);
        put(screen, 0, 0, row);
        const std::string file = render(screen);
        Screen again(120, 4);
        feed(again, file.substr(kBom.size()));
        for (int r = 0; r < 3; ++r) {
            ASSERT_EQ(std::u32string(again.rowChars(r), 120), std::u32string(screen.rowChars(r), 120))
                << "row " << r << " from U+" << std::hex << unsigned(first);
            const auto want = screen.rowMarks(r);
            const auto got = again.rowMarks(r);
            ASSERT_EQ(got.size(), want.size()) << "row " << r << " from U+" << std::hex << unsigned(first);
            for (std::size_t i = 0; i < want.size(); ++i) {
                ASSERT_EQ(got[i].col, want[i].col);
                ASSERT_EQ(got[i].marks, want[i].marks);
            }
        }
    }
}

}  // namespace
}  // namespace vtsnap::test
