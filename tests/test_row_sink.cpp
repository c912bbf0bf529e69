// Which rows leave the top of the screen, and when: bytes in, transcript out.
// The transcript is the rows a sink received, rendered as file lines, then the
// last screen's lines, as -log writes it.
#include <gtest/gtest.h>

#include <string>
#include <string_view>

#include "snapshot/render.hpp"
#include "tests/stream_case.hpp"

namespace vtsnap::test {
namespace {

class CollectingSink final : public RowSink {
public:
    explicit CollectingSink(bool color) : color_(color) {}
    void rowScrolledOff(const char32_t* chars, const CellAttr* attrs, std::span<const CellMarks> marks,
                        std::int32_t cols) override {
        // Rows without colours may come without their colours.
        const std::vector<CellAttr> plain(static_cast<std::size_t>(cols));
        renderRow(lines, chars, attrs != nullptr ? attrs : plain.data(), marks, cols, color_);
    }
    std::string lines;

private:
    bool color_;
};

std::string transcriptOf(std::string_view bytes, const StreamOptions& options, std::size_t chunk) {
    Screen screen(options.cols, options.rows);
    CollectingSink sink(options.color);
    screen.setRowSink(&sink);
    for (std::size_t at = 0; at < bytes.size(); at += chunk) feed(screen, bytes.substr(at, chunk));
    std::string log(kByteOrderMark);
    log += sink.lines;
    renderRows(log, screen, options.color);
    return log;
}

// A screen of 10 x 3 unless a case says otherwise.
constexpr StreamOptions kSmall{.cols = 10, .rows = 3};

const StreamCase kCases[] = {
    {"NothingLeavesAScreenThatDoesNotScroll", "a\r\nb\r\nc", fileOf({"a", "b", "c"}), kSmall},
    {"LineFeedsPushRowsOutInOrder", "1\r\n2\r\n3\r\n4\r\n5", fileOf({"1", "2", "3", "4", "5"}), kSmall},
    // Blank rows that leave are kept; the last screen starts at its first occupied row.
    {"BlankRowsThatLeaveAreKept", "1\r\n\r\n\r\n\r\n5", fileOf({"1", "", "5"}), kSmall},
    {"AWrapAtTheBottomPushesARowOut", "top\r\nmid\r\n0123456789wrapped", fileOf({"top", "mid", "0123456789", "wrapped"}),
     kSmall},
    {"IndexAndNextLine", "a\r\nb\r\nc" ESC "D" ESC "Ed", fileOf({"a", "b", "c", "", "d"}), kSmall},
    {"ScrollUpPushesRowsOut", "a\r\nb\r\nc" CSI "2S", fileOf({"a", "b", "c"}), kSmall},
    {"ScrollUpBeyondTheHeightTakesTheScreenOnce", "a\r\nb\r\nc" CSI "9Sd", fileOf({"a", "b", "c", " d"}), kSmall},
    {"AProgressBarLeavesInItsLastState", "step 1\rstep 2\rstep 3\r\ndone\r\nx\r\ny\r\nz",
     fileOf({"step 3", "done", "x", "y", "z"}), kSmall},
    {"DeletingLinesFromTheTopRowPushesThemOut", "a\r\nb\r\nc" CSI "H" CSI "2M", fileOf({"a", "b", "c"}), kSmall},
    {"DeletingLinesBelowTheTopLosesThem", "a\r\nb\r\nc" CSI "2H" CSI "M", fileOf({"a", "c"}), kSmall},
    {"ErasedRowsAreNotKept", "a\r\nb\r\nc" CSI "2J" CSI "Hd", fileOf({"d"}), kSmall},
    {"ScrollingDownKeepsNothing", "a\r\nb\r\nc" CSI "H" ESC "M" ESC "M" ESC "M", fileOf({}), kSmall},
    {"ARegionAtTheTopPushesItsRowsOut", CSI "1;2r" "a\r\nb\r\nc" CSI "3;1Hfix" CSI "r",
     fileOf({"a", "b", "c", "fix"}), kSmall},
    {"ARegionBelowTheTopKeepsItsRows", "top" CSI "2;3r" CSI "2H" "b\r\nc\r\nd" CSI "r", fileOf({"top", "c", "d"}), kSmall},
    {"ColoursWithColor", CSI "31mred" CSI "m\r\n" CSI "44mblue" CSI "m\r\nplain\r\nend",
     fileOf({CSI "31mred" CSI "0m", CSI "44mblue" CSI "0m", "plain", "end"}), {.cols = 10, .rows = 2, .color = true}},
    {"TextOnlyWithoutColor", CSI "31mr" "\xc3\xa9" "d" CSI "m\r\nb\r\nc\r\nd", fileOf({"r\xc3\xa9" "d", "b", "c", "d"}),
     kSmall},
};

class RowsLeaving : public ::testing::TestWithParam<StreamCase> {};

TEST_P(RowsLeaving, Transcript) {
    const StreamCase& c = GetParam();
    const std::string whole = transcriptOf(c.input, c.options, c.input.size());
    EXPECT_EQ(whole, c.expected);
    // Sequences cut anywhere give the same rows.
    for (std::size_t chunk = 1; chunk < c.input.size(); ++chunk)
        EXPECT_EQ(transcriptOf(c.input, c.options, chunk), whole) << "in blocks of " << chunk << " bytes";
}
INSTANTIATE_TEST_SUITE_P(Catalogue, RowsLeaving, ::testing::ValuesIn(kCases), caseName);

}  // namespace
}  // namespace vtsnap::test
