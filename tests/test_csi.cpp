// Control sequences: every action, seen in the file.
// A marker character written after a sequence shows where the cursor went.
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "tests/stream_case.hpp"

namespace vtsnap::test {
namespace {

const std::string kA120(120, 'a');
const std::string kA119(119, 'a');
const StreamOptions kSmall{.cols = 10, .rows = 5};
const StreamOptions kColor{.color = true};
#define FIVE_ROWS "r0\r\nr1\r\nr2\r\nr3\r\nr4"

const StreamCase kCsiCases[] = {
    // Cursor position: rows count from the top of the scroll region, then
    // the cursor is clamped to the screen, not to the region.
    {"CupHome", "abc" CSI "HX", fileOf({"Xbc"})},
    {"CupZerosMeanOne", "abc" CSI "0;0HX", fileOf({"Xbc"})},
    {"CupRowAndColumn", "top" CSI "3;5HX", fileOf({"top", "", "    X"})},
    {"CupClampsToScreen", "top" CSI "999;999HX", fileOf({"top", "", "", "", "         X"}), kSmall},
    {"HvpLikeCup", "top" CSI "2;3fX", fileOf({"top", "  X"})},
    {"CupCountsFromScreenTop", "top" CSI "2;4r" CSI "1;2HX", fileOf({"tXp"})},
    {"CupMayLeaveRegion", "top" CSI "2;3r" CSI "4;1HX", fileOf({"top", "", "", "X"})},
    {"CupClampsBelowRegionToScreen", "top" CSI "3;4r" CSI "99;1HX", fileOf({"top", "", "", "", "X"}), kSmall},
    {"VpaKeepsColumn", "abcdef" CSI "2dX", fileOf({"abcdef", "      X"})},
    {"VpaTakesColumnFromSecondParameter", "top" CSI "2;4dX", fileOf({"top", "   X"})},
    {"VpaCountsFromScreenTop", "top" CSI "2;4r" CSI "2dX", fileOf({"top", "X"})},

    {"ChaSetsColumn", "abcdef" CSI "3GX", fileOf({"abXdef"})},
    {"ChaZeroMeansOne", "abc" CSI "0GX", fileOf({"Xbc"})},
    {"ChaClamps", CSI "999GX", fileOf({"         X"}), kSmall},
    {"HpaLikeCha", "abcdef" CSI "3`X", fileOf({"abXdef"})},
    {"CufMovesRight", "ab" CSI "CX" CSI "2CY", fileOf({"ab X  Y"})},
    {"HprLikeCuf", "ab" CSI "3aX", fileOf({"ab   X"})},
    {"CufClamps", CSI "99CX", fileOf({"         X"}), kSmall},
    {"CufAfterLastColumnOverwrites", kA120 + CSI "CX", fileOf({kA119 + "X"})},
    {"CubMovesLeft", "abcdef" CSI "2DX", fileOf({"abcdXf"})},
    {"CubStopsAtColumnZero", "abc" CSI "99DX", fileOf({"Xbc"})},
    {"CuuZeroOneAndNoneMoveOne", "top" CSI "5;1H" CSI "AA" CSI "0AB" CSI "1AC",
     fileOf({"top", "  C", " B", "A"})},
    {"CuuStopsAtTop", CSI "3;2H" CSI "99AX", fileOf({" X"})},
    {"CudMovesDown", "a" CSI "2BX", fileOf({"a", "", " X"})},
    {"VprLikeCud", "a" CSI "eX", fileOf({"a", " X"})},
    {"CudStopsAtBottom", "top" CSI "99BX", fileOf({"top", "", "", "", "   X"}), kSmall},
    {"CnlDownToColumnZero", "abc" CSI "2EX", fileOf({"abc", "", "X"})},
    {"CplUpToColumnZero", "top" CSI "4;5H" CSI "2FX", fileOf({"top", "X"})},

    // Vertical moves stop at the region's edges (more in test_region.cpp).
    {"CudStopsAtRegionBottom", "top" CSI "2;3r" CSI "9BX", fileOf({"top", "", "X"})},
    {"CnlStopsAtRegionBottom", "top" CSI "2;3r" CSI "9EX", fileOf({"top", "", "X"})},

    // Erasing within a row and the display.
    {"ElToEnd", "abcdef" CSI "3G" CSI "K", fileOf({"ab"})},
    {"ElZeroToEnd", "abcdef" CSI "3G" CSI "0K", fileOf({"ab"})},
    {"ElToCursorInclusive", "abcdef" CSI "3G" CSI "1K", fileOf({"   def"})},
    {"ElWholeRow", "abc\r\ndef\r\nghi" CSI "2;2H" CSI "2K", fileOf({"abc", "", "ghi"})},
    {"ElOtherModeDoesNothing", "abc" CSI "1G" CSI "3K", fileOf({"abc"})},
    {"EdBelow", FIVE_ROWS CSI "2;2H" CSI "J", fileOf({"r0", "r"}), kSmall},
    {"EdAbove", FIVE_ROWS CSI "2;1H" CSI "1J", fileOf({" 1", "r2", "r3", "r4"}), kSmall},
    {"EdAllKeepsCursor", FIVE_ROWS CSI "2JX", fileOf({"  X"}), kSmall},
    {"EdThreeChangesNothing", FIVE_ROWS CSI "3JX", fileOf({"r0", "r1", "r2", "r3", "r4X"}), kSmall},
    {"EdQuestionMarkErases", FIVE_ROWS CSI "?2JX", fileOf({"  X"}), kSmall},
    {"EdOtherModeDoesNothing", FIVE_ROWS CSI "5JX", fileOf({"r0", "r1", "r2", "r3", "r4X"}), kSmall},

    // Erased cells take the current background and the default foreground.
    {"EchTakesBackground", CSI "31;41mabcd" CSI "44m" CSI "2G" CSI "2X" CSI "0m",
     fileOf({CSI "31m" CSI "41ma" CSI "39m" CSI "44m  " CSI "31m" CSI "41md" CSI "0m"}), kColor},
    {"ElToCursorDefaultColours", CSI "41mabcd" CSI "0m" CSI "2G" CSI "1K", fileOf({"  " CSI "41mcd" CSI "0m"}), kColor},
    {"ElWholeRowTakesBackground", CSI "41mabcd" CSI "42m" CSI "2K" CSI "0mx", fileOf({CSI "42m    " CSI "49mx"}), kColor},
    {"EdBelowTakesBackground", CSI "41mabcd\r\nefgh" CSI "0m" CSI "1;2H" CSI "43m" CSI "J" CSI "0m" CSI "1;4Hx" CSI "2;4Hy",
     fileOf({CSI "41ma" CSI "43m  " CSI "49mx", CSI "43m   " CSI "49my"}), kColor},
    {"IchMovesColoursAndInsertsBackground", CSI "41mab" CSI "0mcd" CSI "1G" CSI "42m" CSI "1@",
     fileOf({CSI "42m " CSI "41mab" CSI "49mcd"}), kColor},
    {"DchMovesColours", CSI "41mab" CSI "0mcd" CSI "1G" CSI "1P", fileOf({CSI "41mb" CSI "49mcd"}), kColor},

    // Editing within a row.
    {"IchShiftsRight", "abcdef" CSI "3G" CSI "2@", fileOf({"ab  cdef"})},
    {"IchLosesCellsAtRightEdge", "0123456789" CSI "1G" CSI "3@", fileOf({"   0123456"}), kSmall},
    {"IchHugeClearsToEnd", "0123456789abc" CSI "11G" CSI "200@", fileOf({"0123456789"})},
    {"DchShiftsLeft", "abcdef" CSI "2G" CSI "2P", fileOf({"adef"})},
    {"DchNearEndClearsLastCells", "0123456789" CSI "9G" CSI "5P", fileOf({"01234567"}), kSmall},
    {"EchBlanks", "abcdef" CSI "2G" CSI "3X", fileOf({"a   ef"})},
    {"EchStopsAtRowEnd", "0123456789" CSI "8G" CSI "5XZ", fileOf({"0123456Z"}), kSmall},
    {"EchZeroMeansOne", "abc" CSI "1G" CSI "0X", fileOf({" bc"})},

    // Lines and scrolling (more with a rotated grid in test_screen.cpp).
    {"IlInsertsAtCursor", FIVE_ROWS CSI "2;1H" CSI "2L", fileOf({"r0", "", "", "r1", "r2"}), kSmall},
    {"DlDeletesAtCursor", FIVE_ROWS CSI "2;1H" CSI "2M", fileOf({"r0", "r3", "r4"}), kSmall},
    {"SuScrollsUp", FIVE_ROWS CSI "2S", fileOf({"r2", "r3", "r4"}), kSmall},
    {"SdScrollsDown", FIVE_ROWS CSI "2T" CSI "HX", fileOf({"X", "", "r0", "r1", "r2"}), kSmall},

    // Scroll region: the cursor goes home (more in test_region.cpp).
    {"RegionHomesCursor", "abc" CSI "2;4rX", fileOf({"Xbc"})},
    {"RegionLimitsScrolling", FIVE_ROWS CSI "2;4r" CSI "S", fileOf({"r0", "r2", "r3", "", "r4"}), kSmall},

    // Save and restore share their slot with ESC 7 and ESC 8.
    {"SaveRestore", "ab" CSI "s" CSI "3;5Hc" CSI "ud", fileOf({"abd", "", "    c"})},
    {"EscSaveCsiRestore", "ab" ESC "7" CSI "3;5Hc" CSI "ud", fileOf({"abd", "", "    c"})},
    {"CsiSaveEscRestore", "ab" CSI "s" CSI "3;5Hc" ESC "8d", fileOf({"abd", "", "    c"})},
    {"SaveIgnoresParameters", "ab" CSI "1;80s" CSI "3;5Hc" CSI "ud", fileOf({"abd", "", "    c"})},
    {"RestoreWithMarkersDoesNothing", "ab" CSI "s" CSI "3;5Hc" CSI "?ud" CSI ">1ue", fileOf({"ab", "", "    cde"})},
    {"RestoreClearsWrap", kA120 + CSI "s" CSI "uX", fileOf({kA119 + "X"})},
    {"SaveKeepsWrap", kA120 + CSI "sX", fileOf({kA120, "X"})},
    {"SgrKeepsWrap", kA120 + CSI "31m" CSI "mZ", fileOf({kA120, "Z"})},

    // Requests, mode changes and unknown finals change nothing and answer
    // nothing; a parameter is the value before its first ':'.
    {"IgnoredSequences",
     "a" CSI "6n" CSI "c" CSI ">c" CSI "?25l" CSI "?1049h" CSI "4h" CSI "2 q" CSI "3t" CSI "5v" CSI "1~" CSI "2N" "b",
     fileOf({"ab"})},
    {"SubParametersAreSkipped", CSI "3:2GX", fileOf({"  X"})},
    {"IntermediateMakesAnotherSequence", "abc" CSI "2$GX", fileOf({"abcX"})},
    {"OverlongParameterBytesAreDropped", "top" CSI + std::string(253, '0') + "2;3" + std::string(44, '0') + "HX",
     fileOf({"top", "  X"})},
};

class Csi : public ::testing::TestWithParam<StreamCase> {};
TEST_P(Csi, File) { expectFile(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Catalogue, Csi, ::testing::ValuesIn(kCsiCases), caseName);

}  // namespace
}  // namespace vtsnap::test
