// The scroll region's edges: where vertical moves, line feeds and RI stop
// when the cursor is inside the region, above or below it; the forms of
// DECSTBM; IL and DL inside and outside; scrolling and the cursor; which
// actions keep a pending wrap. Each expected file is what xterm.js shows for
// the same bytes.
#include <string>

#include "tests/stream_case.hpp"

namespace vtsnap::test {
namespace {

const std::string kA120(120, 'a');
const std::string kA119(119, 'a');
const StreamOptions kSix{.rows = 6};
// Six rows r0..r5 with the cursor at the end of r5.
#define SIX_ROWS "r0\r\nr1\r\nr2\r\nr3\r\nr4\r\nr5"

const StreamCase kRegionCases[] = {
    // Up and down stop at the region's edge from inside it or from beyond
    // that edge; from the other side, at the screen's.
    {"CuuInsideStopsAtRegionTop", SIX_ROWS CSI "2;4r" CSI "3;1H" CSI "9AX", fileOf({"r0", "X1", "r2", "r3", "r4", "r5"}), kSix},
    {"CuuBelowStopsAtRegionTop", SIX_ROWS CSI "2;3r" CSI "6;1H" CSI "9AX", fileOf({"r0", "X1", "r2", "r3", "r4", "r5"}), kSix},
    {"CuuAboveGoesUp", SIX_ROWS CSI "3;4r" CSI "2;1H" CSI "9AX", fileOf({"X0", "r1", "r2", "r3", "r4", "r5"}), kSix},
    {"CplAboveGoesUp", SIX_ROWS CSI "3;4r" CSI "2;2H" CSI "9FX", fileOf({"X0", "r1", "r2", "r3", "r4", "r5"}), kSix},
    {"CudInsideStopsAtRegionBottom", SIX_ROWS CSI "2;3r" CSI "2;1H" CSI "9BX", fileOf({"r0", "r1", "X2", "r3", "r4", "r5"}), kSix},
    {"CudAboveStopsAtRegionBottom", SIX_ROWS CSI "3;4r" CSI "1;1H" CSI "9BX", fileOf({"r0", "r1", "r2", "X3", "r4", "r5"}), kSix},
    {"CudBelowGoesDown", SIX_ROWS CSI "2;3r" CSI "5;1H" CSI "9BX", fileOf({"r0", "r1", "r2", "r3", "r4", "X5"}), kSix},
    {"CnlBelowGoesDown", SIX_ROWS CSI "2;3r" CSI "4;2H" CSI "9EX", fileOf({"r0", "r1", "r2", "r3", "r4", "X5"}), kSix},
    {"VprBelowGoesDown", SIX_ROWS CSI "2;3r" CSI "5;1H" CSI "9eX", fileOf({"r0", "r1", "r2", "r3", "r4", "X5"}), kSix},

    // A line feed scrolls only on the region's bottom row; below the region
    // the cursor moves down and stays on the last row; above, it enters.
    {"LineFeedBelowMovesDown", SIX_ROWS CSI "2;3r" CSI "5;1H\nX", fileOf({"r0", "r1", "r2", "r3", "r4", "X5"}), kSix},
    {"LineFeedOnLastRowBelowStays", SIX_ROWS CSI "2;3r" CSI "6;1H\n\n\f\vX", fileOf({"r0", "r1", "r2", "r3", "r4", "X5"}), kSix},
    {"IndexAndNextLineBelow", SIX_ROWS CSI "2;3r" CSI "5;3H" ESC "DX" ESC "EY", fileOf({"r0", "r1", "r2", "r3", "r4", "Y5X"}), kSix},
    {"WrapOnLastRowBelowStays", SIX_ROWS CSI "2;3r" CSI "6;1H" + kA120 + "X",
     fileOf({"r0", "r1", "r2", "r3", "r4", "X" + kA119}), kSix},
    {"LineFeedAboveEntersAndScrolls", SIX_ROWS CSI "3;4r" CSI "1;1H\n\n\n\nX", fileOf({"r0", "r1", "r3", "X", "r4", "r5"}), kSix},

    // RI scrolls only on the region's top row; elsewhere it moves up, and
    // stays on the first row.
    {"ReverseIndexAboveMovesUp", SIX_ROWS CSI "3;4r" CSI "2;1H" ESC "MX", fileOf({"X0", "r1", "r2", "r3", "r4", "r5"}), kSix},
    {"ReverseIndexOnFirstRowStays", SIX_ROWS CSI "3;4r" CSI "1;1H" ESC "M" ESC "MX", fileOf({"X0", "r1", "r2", "r3", "r4", "r5"}), kSix},
    {"ReverseIndexBelowMovesUp", SIX_ROWS CSI "2;3r" CSI "6;1H" ESC "M" ESC "MX", fileOf({"r0", "r1", "r2", "X3", "r4", "r5"}), kSix},
    {"ReverseIndexAtRegionTopScrolls", SIX_ROWS CSI "2;3r" CSI "2;1H" ESC "MX", fileOf({"r0", "X", "r1", "r3", "r4", "r5"}), kSix},

    // DECSTBM: a missing, zero or too large bottom is the last row; a region
    // of fewer than two rows is refused and changes nothing, not even the
    // cursor. A region set homes the cursor.
    {"RegionTopAlone", SIX_ROWS CSI "3rX" CSI "S", fileOf({"X0", "r1", "r3", "r4", "r5"}), kSix},
    {"RegionBottomZero", SIX_ROWS CSI "3;0rX" CSI "S", fileOf({"X0", "r1", "r3", "r4", "r5"}), kSix},
    {"RegionBottomPastScreen", SIX_ROWS CSI "3;200rX" CSI "S", fileOf({"X0", "r1", "r3", "r4", "r5"}), kSix},
    {"RegionNoneIsWholeScreen", SIX_ROWS CSI "2;4r" CSI "r" CSI "TX", fileOf({"X", "r0", "r1", "r2", "r3", "r4"}), kSix},
    {"RegionInvertedRefused", SIX_ROWS CSI "2;4r" CSI "6;3H" CSI "5;3rX" CSI "S",
     fileOf({"r0", "r2", "r3", "", "r4", "r5X"}), kSix},
    {"RegionOneRowRefused", SIX_ROWS CSI "2;4r" CSI "6;3H" CSI "3;3rX" CSI "S",
     fileOf({"r0", "r2", "r3", "", "r4", "r5X"}), kSix},
    {"RegionTopPastScreenRefused", SIX_ROWS CSI "2;4r" CSI "6;3H" CSI "8;9r" CSI "6rX" CSI "S",
     fileOf({"r0", "r2", "r3", "", "r4", "r5X"}), kSix},
    {"RegionEndsPendingWrap", kA120 + CSI "rX", fileOf({"X" + kA119})},

    // IL and DL act inside the region and send the cursor to the first
    // column; outside it they do nothing.
    {"IlInsideGoesToColumnZero", SIX_ROWS CSI "2;4r" CSI "2;3H" CSI "LX", fileOf({"r0", "X", "r1", "r2", "r4", "r5"}), kSix},
    {"DlInsideGoesToColumnZero", SIX_ROWS CSI "2;4r" CSI "2;3H" CSI "MX", fileOf({"r0", "X2", "r3", "", "r4", "r5"}), kSix},
    {"IlBelowDoesNothing", SIX_ROWS CSI "2;3r" CSI "5;3H" CSI "2LX", fileOf({"r0", "r1", "r2", "r3", "r4X", "r5"}), kSix},
    {"DlAboveDoesNothing", SIX_ROWS CSI "3;4r" CSI "1;3H" CSI "2MX", fileOf({"r0X", "r1", "r2", "r3", "r4", "r5"}), kSix},

    // SU and SD move the region's rows and leave the cursor where it is.
    {"ScrollUpLeavesCursorBelow", SIX_ROWS CSI "2;3r" CSI "6;1H" CSI "SX", fileOf({"r0", "r2", "", "r3", "r4", "X5"}), kSix},
    {"ScrollDownLeavesCursorAbove", SIX_ROWS CSI "2;3r" CSI "1;1H" CSI "TX", fileOf({"X0", "", "r1", "r3", "r4", "r5"}), kSix},

    // A pending wrap survives HT, CHT, CBT, SU and SD; RI, IL, DL, ICH, DCH
    // and ECH end it, leaving the cursor in the last column.
    {"TabsKeepPendingWrap", kA120 + "\t" CSI "I" CSI "ZX", fileOf({kA120, "X"})},
    {"ScrollUpKeepsPendingWrap", "top\r\n" + kA120 + CSI "SZ", fileOf({kA120, "", "Z"})},
    {"ScrollDownKeepsPendingWrap", "top\r\n" + kA120 + CSI "TZ", fileOf({"top", "Z" + kA119})},
    {"ReverseIndexEndsPendingWrap", "x\r\n" + kA120 + ESC "MZ", fileOf({"x" + std::string(118, ' ') + "Z", kA120})},
    {"InsertLineEndsPendingWrap", "top\r\n" + kA120 + CSI "LZ", fileOf({"top", "Z", kA120})},
    {"CharacterEditingEndsPendingWrap", kA120 + CSI "@X\r\n" + kA120 + CSI "PY\r\n" + kA120 + CSI "XZ",
     fileOf({kA119 + "X", kA119 + "Y", kA119 + "Z"})},
};

class Region : public ::testing::TestWithParam<StreamCase> {};
TEST_P(Region, File) { expectFile(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Catalogue, Region, ::testing::ValuesIn(kRegionCases), caseName);

}  // namespace
}  // namespace vtsnap::test
