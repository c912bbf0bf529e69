// What real terminals do and programs rely on: character sets, strings,
// sequences with markers and intermediates, sub-parameters, modes, the
// cursor save, tab stops, REP and erasing in the current background.
#include <string>

#include "tests/stream_case.hpp"

namespace vtsnap::test {
namespace {

const std::string kA120(120, 'a');
const StreamOptions kColor{.color = true};
const StreamOptions kSmall{.cols = 5, .rows = 3, .color = true};
const StreamOptions kTwenty{.cols = 20, .rows = 3};
const StreamOptions kThree{.cols = 3, .rows = 2};

// DEC Special Graphics for ` a b ... ~ in UTF-8.
const std::string kDecGraphics =
    "\xE2\x97\x86\xE2\x96\x92\xE2\x90\x89\xE2\x90\x8C\xE2\x90\x8D\xE2\x90\x8A\xC2\xB0\xC2\xB1"
    "\xE2\x90\xA4\xE2\x90\x8B\xE2\x94\x98\xE2\x94\x90\xE2\x94\x8C\xE2\x94\x94\xE2\x94\xBC\xE2\x8E\xBA"
    "\xE2\x8E\xBB\xE2\x94\x80\xE2\x8E\xBC\xE2\x8E\xBD\xE2\x94\x9C\xE2\x94\xA4\xE2\x94\xB4\xE2\x94\xAC"
    "\xE2\x94\x82\xE2\x89\xA4\xE2\x89\xA5\xCF\x80\xE2\x89\xA0\xC2\xA3\xC2\xB7";
const std::string kBox = "\xE2\x94\x8C\xE2\x94\x80\xE2\x94\x80\xE2\x94\x90";  // ┌──┐
const std::string kLine = "\xE2\x94\x80";                                       // ─

const StreamCase kFidelityCases[] = {
    // Character sets: designated with ESC ( and ESC ), invoked with SI and SO.
    {"DecGraphicsInG0", ESC "(0`abcdefghijklmnopqrstuvwxyz{|}~" ESC "(B_q", fileOf({kDecGraphics + "_q"})},
    {"DecGraphicsInG1", ESC ")0lqqk\x0Elqqk\x0Fq", fileOf({"lqqk" + kBox + "q"})},
    {"ResetForgetsCharsets", ESC "(0" ESC ")0\x0E" ESC "cq", fileOf({"q"})},
    {"OtherEscapeSequencesAreConsumed", "a" ESC "(A" ESC "#8" ESC "%G" ESC " F" ESC "(%5b", fileOf({"ab"})},
    {"ControlInsideEscapeSequenceActs", "ab" ESC "(\r0q", fileOf({kLine + "b"})},
    {"CancelAbortsEscapeSequence", ESC "(\x18" "0q", fileOf({"0q"})},

    // Strings: DCS, SOS, PM and APC are skipped like OSC; only OSC ends at BEL.
    {"StringsAreSkipped", "a" ESC "P1$r0m" ESC "\\b" ESC "X\x07sos" ESC "\\c" ESC "^pm" ESC "\\d" ESC "_x\x07y" ESC "\\e",
     fileOf({"abcde"})},
    {"CancelEndsString", "a" ESC "]0;t\x18" "b" ESC "Px\x1A" "c", fileOf({"abc"})},
    {"EscapeEndsStringAndActs", "a" ESC "]0;title" CSI "31mb", fileOf({"a" CSI "31mb" CSI "0m"}), kColor},

    // Markers and intermediates make other sequences: they do nothing here.
    {"MarkedSequencesDoNothing",
     "ab" CSI "s" CSI "2;2H" CSI "?u" CSI ">1u" CSI "=5u" CSI ">4;1m" CSI "1$r" CSI "!p" CSI "2 q" "c",
     fileOf({"ab", " c"}), kColor},
    {"MarkerOnlyFirst", "ab" CSI "1?2Hc" CSI "1 2Hd", fileOf({"abcd"})},
    {"QuestionMarkEraseInLine", "abcdef" CSI "3G" CSI "?K", fileOf({"ab"})},
    {"CancelAbandonsCsi", "ab" CSI "2\x18" "Dx", fileOf({"abDx"})},

    // Sub-parameters choose colours; other codes with them change nothing.
    {"ColonDirectColours", CSI "38:2:255:128:0ma" CSI "38:2::1:2:3mb" CSI "48:2:9:4:5:6mc" CSI "48:5:20;4:3md",
     fileOf({CSI "38;2;255;128;0ma" CSI "38;2;1;2;3mb" CSI "48;2;4;5;6mc" CSI "48;5;20md" CSI "0m"}), kColor},
    {"UnderlineColourIsRead", CSI "58:5:3ma" CSI "58;5;3;31mb" CSI "58;2;1;2;3;32mc",
     fileOf({"a" CSI "31mb" CSI "32mc" CSI "0m"}), kColor},

    // Origin mode counts rows from the region's top and keeps the cursor in it.
    {"OriginModeCup", "t" CSI "2;4r" CSI "?6h" "a" CSI "9;1Hb" CSI "?6l" "c", fileOf({"c", "a", "", "b"})},
    {"OriginModeVpaKeepsColumn", CSI "3;5r" CSI "?6h" "ab" CSI "2dc", fileOf({"ab", "  c"})},

    // Auto-wrap off: the last column is overwritten; insert mode shifts.
    {"AutoWrapOff", CSI "?7l" + kA120 + "XY" CSI "?7h" "Z" + kA120, fileOf({std::string(119, 'a') + "Z", kA120})},
    {"InsertMode", "abc" CSI "1G" CSI "4hX" CSI "4lY", fileOf({"XYbc"})},
    // Without it, the cursor stays past the last column after writing there,
    // where tabs leave it; a wide character is dropped in the last column and
    // blanks the one whose second half the cursor is on, unless the cursor was
    // past it; a mark after it joins the character left of the cursor.
    {"TabsStayPastMargin", CSI "?7lHMi" CSI "Zy\tz", fileOf({"HMz"}), kThree},
    {"DroppedWideCutsWideUnderCursor", "a" CSI "1;19H" "\xF0\xA0\x81\xA5" CSI "?7l" CSI "1;20H" "\xE6\xB3\x89",
     fileOf({"a"}), kTwenty},
    {"DroppedWidePastMarginKeepsWide", CSI "?7l" CSI "1;19H" "\xE4\xB8\xAD\xE4\xB8\xAD",
     fileOf({std::string(18, ' ') + "\xE4\xB8\xAD"}), kTwenty},
    {"MarkAfterDroppedWide", CSI "?7l" CSI "1;18Hab" "\xE4\xB8\xAD" "\xCC\x81",
     fileOf({std::string(17, ' ') + "ab\xCC\x81"}), kTwenty},

    // The cursor save keeps colours, character sets and origin mode.
    {"RestoreBringsColoursBack", CSI "31m" ESC "7" CSI "0m" "a" ESC "8b", fileOf({CSI "31mb" CSI "0m"}), kColor},
    {"RestoreBringsCharsetsBack", ESC "(0" ESC "7" ESC "(B" ESC "8q" CSI "s" ESC "(B" CSI "uq", fileOf({kLine + kLine})},
    {"RestoreWithoutSaveGivesDefaults", ESC "(0" CSI "31m" ESC "8q", fileOf({"q"}), kColor},

    // Tab forward and back by count, over stops every 8 columns.
    {"TabForwardAndBack", CSI "5GA" CSI "1ZB" CSI "2IC" CSI "9ZD" CSI "999IE",
     fileOf({"D   A" + std::string(11, ' ') + "C" + std::string(102, ' ') + "E"})},

    // Tab stops are the program's: one set for every row, every 8 columns at
    // the start and after a full reset, not after the soft one (ignored).
    {"TabStopSetAtCursor", "a" ESC "H\r\tx", fileOf({"ax"})},
    {"TabWithoutStopsGoesToLastColumn", CSI "3g\tx", fileOf({std::string(119, ' ') + "x"})},
    {"TabStopsEveryFour", CSI "3g" CSI "5G" ESC "H" CSI "9G" ESC "H" CSI "13G" ESC "H\ra\tb\tc\td",
     fileOf({"a   b   c   d"})},
    {"TabStopClearedAtCursor", CSI "9G" CSI "g" CSI "17G" CSI "0g\r\tx", fileOf({std::string(19, ' ') + "x"}), kTwenty},
    {"OtherTabClearsDoNothing", CSI "9G" CSI "2g" CSI "1g" CSI "4g\r\tx", fileOf({"        x"}), kTwenty},
    {"TabStopsForEveryRow", "a" CSI "3g" CSI "4G" ESC "H\r\n\tx", fileOf({"a", "   x"}), kTwenty},
    {"BackTabOverSetStops", CSI "3g" CSI "4G" ESC "H" CSI "12G" ESC "H" CSI "20G" CSI "Za" CSI "2Zb" CSI "3Zc",
     fileOf({"c  b       a"}), kTwenty},
    {"ForwardTabOverSetStops", CSI "3g" CSI "6G" ESC "H" CSI "1G" CSI "2Ix", fileOf({std::string(19, ' ') + "x"}), kTwenty},
    {"ResetBringsBackTabStops", CSI "3g" ESC "c\tx", fileOf({"        x"}), kTwenty},
    {"SoftResetKeepsTabStops", CSI "3g" CSI "!p\tx", fileOf({std::string(19, ' ') + "x"}), kTwenty},

    // REP repeats the last graphic character, and only right after it.
    {"RepeatLastCharacter", "a" CSI "3b" "\r\n" "b" CSI "0b" "\r\n" "c\r" CSI "2b" "\r\n" "d" CSI "b" CSI "b",
     fileOf({"aaaa", "bb", "c", "dd"})},
    {"RepeatMappedCharacter", ESC "(0q" CSI "2b", fileOf({kLine + kLine + kLine})},

    // Erased and scrolled-in cells take the current background.
    {"LineFeedScrollsInBackground", "a\r\nb\r\nc" CSI "44m\n" CSI "0mx", fileOf({"b", "c", CSI "44m " CSI "49mx"}), kSmall},
    {"ScrollAndInsertTakeBackground", "a" CSI "42m" CSI "T" CSI "L" CSI "0m" CSI "1;3Hx" CSI "2;3Hy",
     fileOf({CSI "42m  " CSI "49mx", CSI "42m  " CSI "49my", "a"}), kSmall},
    {"ResetClearsToDefault", CSI "41m" CSI "2J" ESC "c" CSI "2;2Hx", fileOf({" x"}), kSmall},
};

class Fidelity : public ::testing::TestWithParam<StreamCase> {};
TEST_P(Fidelity, File) { expectFile(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Catalogue, Fidelity, ::testing::ValuesIn(kFidelityCases), caseName);

}  // namespace
}  // namespace vtsnap::test
