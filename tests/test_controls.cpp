// C0 controls, two-byte ESC sequences, OSC strings, and what happens to
// sequences that are cut short.
#include <string>

#include "tests/stream_case.hpp"

namespace vtsnap::test {
namespace {

const std::string kA120(120, 'a');
const std::string kA118(118, 'a');
const std::string kA119(119, 'a');

const StreamCase kControlCases[] = {
    {"BackspaceMovesLeft", "abc\bX", fileOf({"abX"})},
    {"BackspaceStopsAtColumnZero", "\b\bX", fileOf({"X"})},
    {"BackspaceAfterLastColumnClearsWrap", kA120 + "\bX", fileOf({kA118 + "Xa"})},
    {"TabToNextStop", "\tX", fileOf({"        X"})},
    {"TabFromAStop", "12345678\tX", fileOf({"12345678        X"})},
    {"TabLeavesCellsAlone", "abcdefghij\r\tX", fileOf({"abcdefghXj"})},
    {"TabStopsAtLastColumn", CSI "119G\tX", fileOf({std::string(119, ' ') + "X"})},
    {"BellIsIgnored", "a\x07" "b", fileOf({"ab"})},

    {"SaveAndRestore", "abc" ESC "7\r\n\r\nxyz" ESC "8D", fileOf({"abcD", "", "xyz"})},
    {"RestoreWithoutSaveGoesHome", "abc" ESC "8X", fileOf({"Xbc"})},
    {"RestoreClearsWrap", kA120 + ESC "7" ESC "8X", fileOf({kA119 + "X"})},
    {"IndexKeepsColumn", "ab" ESC "Dc", fileOf({"ab", "  c"})},
    {"NextLineGoesToColumnZero", "ab" ESC "Ec", fileOf({"ab", "c"})},
    {"IndexAtBottomScrolls", "a\r\nb" ESC "Dc", fileOf({"b", " c"}), {.cols = 5, .rows = 2}},
    {"ReverseIndexMovesUp", "a\r\nb" ESC "Mc", fileOf({"ac", "b"})},
    {"ReverseIndexAtTopScrollsDown", "a\r\nb" CSI "H" ESC "Mc", fileOf({"c", "a", "b"})},
    {"ReverseIndexAtRegionTop", "r0\r\nr1\r\nr2\r\nr3" CSI "2;3r" CSI "2H" ESC "Mx", fileOf({"r0", "x", "r1", "r3"})},

    // A full reset clears text, colours, region and saved position; the rest
    // of the block lands on the clean screen.
    {"ResetMidBlock", "abc\r\ndef" ESC "cg", fileOf({"g"})},
    {"ResetForgetsColourRegionAndSavedPosition",
     "abc" ESC "7" CSI "31m" CSI "2;3r" ESC "cx" ESC "8y" CSI "3Hz", fileOf({"y", "", "z"}), {.color = true}},

    // An escape sequence is consumed whole, known or not.
    {"CharsetDesignationIsConsumed", ESC "(Bx", fileOf({"x"})},
    {"UnknownEscapeDropsOneByte", ESC "xy", fileOf({"y"})},
    {"EscapeEscapeStartsAfresh", ESC ESC "[31mx", fileOf({CSI "31mx" CSI "0m"}), {.color = true}},

    // ESC abandons a CSI and starts afresh; other controls act inside it;
    // DEL is ignored; a byte from 0x80 up abandons it and is dropped.
    {"CsiBrokenByEscape", CSI "31" CSI "32mx", fileOf({CSI "32mx" CSI "0m"}), {.color = true}},
    {"CarriageReturnInsideCsi", "abcdef" CSI "\r2Cx", fileOf({"abxdef"})},
    {"LineFeedInsideCsi", "ab" CSI "\n1Cd", fileOf({"ab", "   d"})},
    {"CsiBrokenByUtf8", "ab" CSI "3\xC3\xA9" "c", fileOf({"abc"})},
    {"DeleteInsideCsiIsIgnored", "ab" CSI "2\x7F" "Dx", fileOf({"xb"})},

    {"OscEndedByBell", "a" ESC "]0;title\x07" "b", fileOf({"ab"})},
    {"OscEndedByStringTerminator", "a" ESC "]0;title" ESC "\\b", fileOf({"ab"})},
    {"OscContentDoesNothing", "a" ESC "]0;\r\n\xC3\xA9\b\x9b" "2J\x07" "b", fileOf({"ab"})},
    {"EscapeEndsOscAndStartsAfresh", "a" ESC "]0;t" ESC ESC "\\x\x07" "b", fileOf({"axb"})},
    {"OscUnterminatedSwallowsTheRest", "a" ESC "]0;t\r\nbcd" CSI "31m", fileOf({"a"})},
};

class Controls : public ::testing::TestWithParam<StreamCase> {};
TEST_P(Controls, File) { expectFile(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Catalogue, Controls, ::testing::ValuesIn(kControlCases), caseName);

}  // namespace
}  // namespace vtsnap::test
