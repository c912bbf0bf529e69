// The file format: which rows appear, trimming, TAB, the colour sequences,
// and the conversion of each run to UTF-8. Cells are set directly here, so
// that every combination of characters and colours can be built.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "snapshot/render.hpp"
#include "tests/render_stream.hpp"
#include "tests/screen_access.hpp"

#define ESC "\x1b"
#define CSI "\x1b["
#define REPLACED "\xEF\xBF\xBD"

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

void put(Screen& screen, int row, int col, std::u16string_view text, CellAttr attr = kDefault) {
    feed(screen, CSI + std::to_string(row + 1) + ";" + std::to_string(col + 1) + "H" + sgrOf(attr));
    for (char16_t unit : text) inspect(screen).putChar(unit);
}

std::string renderColor(Screen& screen) { return render(screen, true); }

TEST(RenderRows, BlankScreenIsTheByteOrderMarkAlone) {
    Screen screen(120, 100);
    EXPECT_EQ(render(screen), kBom);
    EXPECT_EQ(renderColor(screen), kBom);
}

TEST(RenderRows, OnlyOccupiedRangeIsWritten) {
    Screen screen(120, 100);
    put(screen, 3, 0, u"abc");
    EXPECT_EQ(render(screen), "\xEF\xBB\xBF" "abc\r\n");
    put(screen, 6, 4, u"x");
    EXPECT_EQ(render(screen), fileOf({"abc", "", "", "    x"}));
}

TEST(RenderRows, LeadingBlanksStayTrailingBlanksGo) {
    Screen screen(120, 10);
    put(screen, 0, 0, u"  x  y");
    put(screen, 0, 119, u" ");
    EXPECT_EQ(render(screen), fileOf({"  x  y"}));
}

TEST(RenderRows, TabOccupiesARowButIsTrimmed) {
    Screen screen(10, 6);
    put(screen, 0, 0, u"a\tb\t");
    put(screen, 5, 3, u"\t");
    EXPECT_EQ(render(screen), fileOf({"a\tb", "", "", "", "", ""}));
}

TEST(RenderRows, LastColumnAndLastRowAreWritten) {
    Screen screen(4, 3);
    put(screen, 0, 3, u"v");
    put(screen, 2, 0, u"wxyz");
    EXPECT_EQ(render(screen), fileOf({"   v", "", "wxyz"}));
}

TEST(RenderRows, NulCellIsAByte) {
    Screen screen(10, 1);
    put(screen, 0, 0, std::u16string_view(u"a\0b", 3));
    EXPECT_EQ(render(screen), fileOf({std::string_view("a\0b", 3)}));
}

TEST(RenderColor, MixedRowExactBytes) {
    Screen screen(120, 5);
    put(screen, 0, 0, u"Hi", kRed);
    put(screen, 0, 3, u"OK", {kDefaultColor, 0x01FF8000});
    EXPECT_EQ(renderColor(screen),
              "\xEF\xBB\xBF"
              "\x1b\x5b\x33\x31\x6d\x48\x69\x1b\x5b\x33\x39\x6d\x20\x1b\x5b\x34\x38\x3b\x32\x3b\x32\x35\x35"
              "\x3b\x31\x32\x38\x3b\x30\x6d\x4f\x4b\x1b\x5b\x30\x6d\x0d\x0a");
    EXPECT_EQ(render(screen), "\xEF\xBB\xBF" "Hi OK\r\n");
}

TEST(RenderColor, DefaultRowHasNoSequences) {
    Screen screen(10, 2);
    put(screen, 0, 0, u"plain");
    put(screen, 1, 1, u"text");
    EXPECT_EQ(renderColor(screen), fileOf({"plain", " text"}));
}

TEST(RenderColor, EveryRowStartsFromDefault) {
    Screen screen(10, 2);
    put(screen, 0, 0, u"ab", kRed);
    put(screen, 1, 0, u"cd", kRed);
    EXPECT_EQ(renderColor(screen), fileOf({CSI "31mab" CSI "0m", CSI "31mcd" CSI "0m"}));
}

TEST(RenderColor, OnlyTheChangedColourIsWritten) {
    Screen screen(10, 1);
    put(screen, 0, 0, u"ab", kOnBlue);
    put(screen, 0, 2, u"cd", {1, 4});
    put(screen, 0, 4, u"ef", {1, kDefaultColor});
    EXPECT_EQ(renderColor(screen), fileOf({CSI "44mab" CSI "31mcd" CSI "49mef" CSI "0m"}));
}

TEST(RenderColor, ColouredTrailingBlanksAreDroppedWithTheirColour) {
    Screen screen(10, 1);
    put(screen, 0, 0, u"a");
    put(screen, 0, 1, u"      ", kOnBlue);
    put(screen, 0, 7, u"\t\t", kRed);
    EXPECT_EQ(renderColor(screen), fileOf({"a"}));
}

TEST(RenderColor, ColouredBlanksBeforeTextAreWritten) {
    Screen screen(10, 1);
    put(screen, 0, 0, u"  ", kOnBlue);
    put(screen, 0, 2, u"z");
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
        put(screen, 0, 0, u"f", {c.value, kDefaultColor});
        put(screen, 1, 0, u"b", {kDefaultColor, c.value});
        EXPECT_EQ(renderColor(screen),
                  fileOf({std::string(c.fg) + "f" CSI "0m", std::string(c.bg) + "b" CSI "0m"}))
            << "colour " << c.value;
    }
}

// Every character of the first plane beyond ASCII and C1, among ASCII and
// in runs of its own length, read back by the decoder: the cells come back.
TEST(RenderUtf8, EveryBmpCharacterReadsBack) {
    for (char32_t first = 0xA0; first <= 0xFFFF; first += 60) {
        std::u16string row;
        for (char32_t c = first; c < first + 60 && c <= 0xFFFF; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF) continue;
            row += static_cast<char16_t>(c);
            row += c % 3 == 0 ? u'x' : static_cast<char16_t>(c ^ 1);
        }
        if (row.empty()) continue;
        Screen screen(120, 1);
        put(screen, 0, 0, row);
        const std::string file = render(screen);
        ASSERT_EQ(file.substr(file.size() - 2), "\r\n");
        Screen back(120, 1);
        feed(back, std::string_view(file).substr(kBom.size(), file.size() - kBom.size() - 2));
        ASSERT_EQ(std::u16string(back.rowChars(0), row.size()), row) << "from U+" << std::hex << unsigned(first);
    }
}

// A lone surrogate half is written as U+FFFD; the rest of the file stays.
TEST(RenderSurrogates, PairInOneRunIsOneCharacter) {
    Screen screen(10, 1);
    put(screen, 0, 0, u"\xD83D\xDE00!");
    EXPECT_EQ(render(screen), fileOf({"\xF0\x9F\x98\x80!"}));
}

TEST(RenderSurrogates, LoneHalvesAnywhereBecomeReplacementCharacters) {
    Screen screen(10, 60);
    put(screen, 0, 0, u"top");
    put(screen, 30, 0, u"\xD83D" "a\xDE00" "b");
    put(screen, 59, 9, u"\xDBFF");
    std::string expected = fileOf({"top"});
    for (int row = 1; row < 30; ++row) expected += "\r\n";
    expected += REPLACED "a" REPLACED "b\r\n";
    for (int row = 31; row < 59; ++row) expected += "\r\n";
    expected += "         " REPLACED "\r\n";
    EXPECT_EQ(render(screen), expected);
}

TEST(RenderSurrogates, ReversedPairIsTwoHalves) {
    Screen screen(10, 1);
    put(screen, 0, 0, u"\xDE00\xD83D");
    EXPECT_EQ(render(screen), fileOf({REPLACED REPLACED}));
}

TEST(RenderSurrogates, HighHalfBeforeAPair) {
    Screen screen(10, 1);
    put(screen, 0, 0, u"\xD83D\xD83D\xDE00");
    EXPECT_EQ(render(screen), fileOf({REPLACED "\xF0\x9F\x98\x80"}));
}

TEST(RenderSurrogates, PairWithDifferentColoursIsTwoHalves) {
    Screen screen(10, 1);
    put(screen, 0, 0, u"\xD83D", kRed);
    put(screen, 0, 1, u"\xDE00", kOnBlue);
    EXPECT_EQ(render(screen), fileOf({REPLACED REPLACED}));
    EXPECT_EQ(renderColor(screen), fileOf({CSI "31m" REPLACED CSI "39m" CSI "44m" REPLACED CSI "0m"}));
}

TEST(RenderSurrogates, PairSplitAcrossRows) {
    Screen screen(3, 2);
    put(screen, 0, 0, u"ab\xD83D");
    put(screen, 1, 0, u"\xDE00" "c");
    EXPECT_EQ(render(screen), fileOf({"ab" REPLACED, REPLACED "c"}));
}

}  // namespace
}  // namespace vtsnap::test
