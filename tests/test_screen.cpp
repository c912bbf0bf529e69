// Scrolling, line insertion and deletion with the grid rotated to every
// offset, and the Screen state that the file cannot show.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "snapshot/render.hpp"
#include "tests/render_stream.hpp"
#include "tests/screen_access.hpp"
#include "tests/stream_case.hpp"

namespace vtsnap::test {
namespace {

// Every row of the screen as text with trailing blanks cut, empty rows
// included: the file cannot show the empty rows above the first written one.
std::vector<std::string> rowTexts(const Screen& screen) {
    std::vector<std::string> rows;
    for (int r = 0; r < screen.rows(); ++r) {
        std::string text(screen.rowChars(r), screen.rowChars(r) + screen.cols());
        text.erase(text.find_last_not_of(' ') + 1);
        rows.push_back(text);
    }
    return rows;
}

std::vector<std::string> rowTextsAfter(std::string_view bytes, int cols, int rows) {
    Screen screen(cols, rows);
    feed(screen, bytes);
    return rowTexts(screen);
}

// Five rows a..e on a 4 x 5 screen, after `turns` full-screen scrolls, so
// that screen row 0 sits at every place in the grid's storage.
std::string rowsAtoE(int turns) {
    std::string stream = CSI "5;1H" + std::string(static_cast<std::size_t>(turns), '\n');
    return stream + CSI "Ha" CSI "2Hb" CSI "3Hc" CSI "4Hd" CSI "5He";
}

TEST(ScreenRotated, RegionOperationsAtEveryOffset) {
    using Rows = std::vector<std::string>;
    const struct {
        const char* name;
        std::string ops;
        Rows expected;
    } cases[] = {
        {"nothing", "", {"a", "b", "c", "d", "e"}},
        {"full scroll up", CSI "2S", {"c", "d", "e", "", ""}},
        {"full scroll down", CSI "2T", {"", "", "a", "b", "c"}},
        {"full scroll up beyond height", CSI "9Sx", {"", "", "", "", " x"}},
        {"region scroll up", CSI "2;4r" CSI "S", {"a", "c", "d", "", "e"}},
        {"region scroll down", CSI "2;4r" CSI "T", {"a", "", "b", "c", "e"}},
        {"region scroll up twice", CSI "2;4r" CSI "S" CSI "S", {"a", "d", "", "", "e"}},
        {"region scroll up beyond height", CSI "2;4r" CSI "9S", {"a", "", "", "", "e"}},
        {"region at top", CSI "1;4r" CSI "S", {"b", "c", "d", "", "e"}},
        {"region at bottom", CSI "2;5r" CSI "T", {"a", "", "b", "c", "d"}},
        {"insert line in region", CSI "2;4r" CSI "3H" CSI "L", {"a", "b", "", "c", "e"}},
        {"delete line in region", CSI "2;4r" CSI "3H" CSI "M", {"a", "b", "d", "", "e"}},
        {"insert many in region", CSI "2;4r" CSI "3H" CSI "99L", {"a", "b", "", "", "e"}},
        {"delete many clears to bottom", CSI "2H" CSI "100M", {"a", "", "", "", ""}},
        {"insert at the top row", CSI "H" CSI "L", {"", "a", "b", "c", "d"}},
        {"delete from the top row", CSI "H" CSI "2M", {"c", "d", "e", "", ""}},
        {"insert and delete above region", CSI "3;4r" CSI "H" CSI "L" CSI "M", {"a", "b", "c", "d", "e"}},
        {"insert and delete below region", CSI "1;2r" CSI "4H" CSI "L" CSI "M", {"a", "b", "c", "d", "e"}},
        {"line feed at region bottom", CSI "2;4r" CSI "4H\nx", {"a", "c", "d", "x", "e"}},
        {"line feed below region", CSI "1;2r" CSI "4H\n\nx", {"a", "b", "c", "d", "x"}},
        {"wrap at region bottom", CSI "2;3r" CSI "3;4Hyz", {"a", "c  y", "z", "d", "e"}},
        {"long text in region", CSI "2;3r" CSI "3H" "0123456789ABCDEFGHIJ", {"a", "CDEF", "GHIJ", "d", "e"}},
        {"reverse index at region top", CSI "2;4r" CSI "2H" ESC "Mx", {"a", "x", "b", "c", "e"}},
        {"erase below", CSI "3;2H" CSI "J", {"a", "b", "c", "", ""}},
        {"erase above", CSI "4;1H" CSI "1J", {"", "", "", "", "e"}},
        {"insert characters", CSI "2;1H" CSI "@", {"a", " b", "c", "d", "e"}},
    };
    for (const auto& c : cases) {
        for (int turns = 0; turns <= 10; ++turns) {
            EXPECT_EQ(rowTextsAfter(rowsAtoE(turns) + c.ops, 4, 5), c.expected)
                << c.name << ", after " << turns << " full scrolls";
        }
    }
}

TEST(ScreenRotated, ManyLinesKeepTheLastScreenful) {
    std::string stream;
    for (int i = 1; i <= 250; ++i) stream += "line " + std::to_string(i) + "\r\n";
    stream += "end";
    std::string expected(kBom);
    for (int i = 152; i <= 250; ++i) expected += "line " + std::to_string(i) + "\r\n";
    expected += "end\r\n";
    EXPECT_EQ(renderStream(stream), expected);
    EXPECT_EQ(renderStream(stream, {.chunk = 7}), expected);
}

TEST(ScreenRotated, RegionAfterManyScrollsThenWholeScreenAgain) {
    std::string stream;
    for (int i = 0; i < 13; ++i) stream += std::to_string(i) + "\r\n";
    // Rows now show 9, 10, 11, 12 and an empty last row.
    stream += CSI "2;4r" CSI "S" CSI "T" CSI "T" CSI "r" CSI "S" CSI "5;1Hz";
    EXPECT_EQ(rowTextsAfter(stream, 4, 5), (std::vector<std::string>{"", "", "11", "", "z"}));
}

// State that only shows later, if at all.
// Runs of text are laid into a row with a few wide moves rather than a cell
// at a time; every length at every column must leave the cells and colours
// that one character at a time leaves, including the wrap into the next row.
TEST(ScreenText, RunsOfEveryLengthMatchOneAtATime) {
    std::string text;
    for (int i = 0; i < 130; ++i) text += static_cast<char>('!' + i % 90);
    const std::string utf8Text = "\xC3\xA9" + text;  // a run of code points
    for (const std::string& run : {text, utf8Text}) {
        for (int col : {1, 2, 5, 8, 9, 60, 113, 117, 120}) {
            for (std::size_t length = 1; length <= run.size(); ++length) {
                const std::string lead = CSI "2;" + std::to_string(col) + "H" CSI "42m" "\xC3\xA9" CSI "33m";
                Screen whole(120, 4);
                Screen single(120, 4);
                feed(whole, CSI "1m" + std::string(300, '.') + lead + run.substr(0, length));
                feed(single, CSI "1m" + std::string(300, '.') + lead);
                for (std::size_t i = 0; i < length; ++i) feed(single, run.substr(i, 1));
                for (int r = 0; r < 4; ++r) {
                    ASSERT_EQ(std::u32string(whole.rowChars(r), 120), std::u32string(single.rowChars(r), 120))
                        << "row " << r << ", column " << col << ", length " << length;
                    for (int c = 0; c < 120; ++c)
                        ASSERT_EQ(inspect(whole).cellAttr(r, c), inspect(single).cellAttr(r, c))
                            << "row " << r << ", column " << c << ", length " << length;
                }
            }
        }
    }
}

TEST(ScreenState, ConstructionRaisesDimensionsToOne) {
    Screen screen(0, -5);
    EXPECT_EQ(screen.rows(), 1);
    EXPECT_EQ(screen.cols(), 1);
    EXPECT_EQ(inspect(screen).scrollTop(), 0);
    EXPECT_EQ(inspect(screen).scrollBottom(), 0);
    EXPECT_EQ(inspect(screen).parserState(), ParserState::Ground);
}

TEST(ScreenState, FullRowSetsWrapPendingInLastColumn) {
    Screen screen(120, 3);
    feed(screen, std::string(120, 'a'));
    EXPECT_EQ(inspect(screen).cursorRow(), 0);
    EXPECT_EQ(inspect(screen).cursorCol(), 119);
    EXPECT_TRUE(inspect(screen).wrapPending());
    inspect(screen).scrollUp(0);
    inspect(screen).scrollDown(-1);
    EXPECT_EQ(render(screen), fileOf({std::string(120, 'a')})) << "a count below 1 changes nothing";
    inspect(screen).scrollDown(1);
    EXPECT_TRUE(inspect(screen).wrapPending());
    inspect(screen).insertChars(1);
    EXPECT_FALSE(inspect(screen).wrapPending());
}

TEST(ScreenState, LineCountsBelowOneMeanOne) {
    Screen screen(4, 3);
    feed(screen, "a\r\nb\r\nc" CSI "2H");
    inspect(screen).insertLines(0);
    EXPECT_EQ(render(screen), fileOf({"a", "", "b"}));
    inspect(screen).deleteLines(-2);
    EXPECT_EQ(render(screen), fileOf({"a", "b"}));
}

TEST(ScreenState, ScrollingLeavesTheCursor) {
    Screen screen(10, 20);
    feed(screen, CSI "6;15r" CSI "20;4H");
    EXPECT_EQ(inspect(screen).cursorRow(), 19) << "rows count from the top of the screen";
    inspect(screen).scrollUp(1000);
    inspect(screen).scrollDown(3);
    EXPECT_EQ(inspect(screen).cursorRow(), 19);
    EXPECT_EQ(inspect(screen).cursorCol(), 3);
}

// Synchronized output: each update that begins is numbered; setting the mode
// again inside one, or among other modes, begins no new one; ESC c ends it.
// The observer sees each end as it happens, the frame whole and nothing of
// what follows in the block.
TEST(ScreenState, SynchronizedUpdatesAreNumbered) {
    Screen screen(10, 3);
    struct Frames : UpdateObserver {
        Screen& screen;
        std::string seen;
        explicit Frames(Screen& s) : screen(s) {}
        void updateEnded() override { seen += render(screen).substr(kBom.size()) + "|"; }
    } frames(screen);
    screen.setUpdateObserver(&frames);
    const struct {
        const char* bytes;
        bool open;
        std::uint32_t number;
        const char* seen;
    } steps[] = {
        {"a", false, 0, ""},
        {CSI "?2026h", true, 1, ""},
        {CSI "?2026hb" CSI "?25;2026h", true, 1, ""},
        {CSI "?2026lc", false, 1, "ab\r\n|"},
        {CSI "?2026l" CSI "2026h", false, 1, ""},
        {CSI "?1;2026h", true, 2, ""},
        {ESC "c", false, 2, "|"},
        {CSI "?2026hd" CSI "?2026;7le" CSI "?2026h", true, 4, "d\r\n|"},
    };
    for (const auto& step : steps) {
        frames.seen.clear();
        feed(screen, step.bytes);
        EXPECT_EQ(screen.updateOpen(), step.open) << step.bytes;
        EXPECT_EQ(screen.updateNumber(), step.number) << step.bytes;
        EXPECT_EQ(frames.seen, step.seen) << step.bytes;
    }
    EXPECT_EQ(render(screen), std::string(kBom) + "de\r\n");
}

TEST(ScreenState, EraseLeavesTheCursor) {
    Screen screen(10, 5);
    feed(screen, "abc\r\ndef");
    inspect(screen).eraseInDisplay(5);
    inspect(screen).eraseInDisplay(2);
    EXPECT_EQ(inspect(screen).cursorRow(), 1);
    EXPECT_EQ(inspect(screen).cursorCol(), 3);
    EXPECT_EQ(renderSnapshot(screen, false), std::string(kBom));
}

TEST(ScreenState, ResetKeepsDimensionsAndClearsTheRest) {
    Screen screen(10, 5);
    feed(screen, "abc" CSI "31m" CSI "2;4r" CSI "?6h" CSI "3;3H" CSI "s" CSI "4;5H" ESC "(0" CSI "12");
    feed(screen, "m" ESC "c");
    EXPECT_EQ(screen.rows(), 5);
    EXPECT_EQ(screen.cols(), 10);
    EXPECT_EQ(inspect(screen).scrollTop(), 0);
    EXPECT_EQ(inspect(screen).scrollBottom(), 4);
    EXPECT_EQ(inspect(screen).cursorRow(), 0);
    EXPECT_EQ(inspect(screen).cursorCol(), 0);
    EXPECT_EQ(inspect(screen).currentAttr(), CellAttr{});
    EXPECT_EQ(inspect(screen).parserState(), ParserState::Ground);
    EXPECT_EQ(render(screen, true), std::string(kBom));
    // Saved state, modes and character sets are back to their start too.
    feed(screen, CSI "uq" CSI "3Hx");
    EXPECT_EQ(render(screen, true), fileOf({"q", "", "x"}));
}

}  // namespace
}  // namespace vtsnap::test
