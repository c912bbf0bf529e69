// Text: UTF-8 decoding, deferred autowrap, and the cells characters take:
// wide characters two, marks none (they join the character before them).
#include <string>

#include "tests/stream_case.hpp"

namespace vtsnap::test {
namespace {

using namespace std::string_literals;

const std::string kA120(120, 'a');
const std::string kA119(119, 'a');
#define GRIN "\xF0\x9F\x98\x80"    // U+1F600, two cells
#define NI "\xE6\x97\xA5"          // U+65E5, two cells
#define HON "\xE6\x9C\xAC"         // U+672C, two cells
#define ACUTE "\xCC\x81"            // U+0301, a combining mark
#define DOT_BELOW "\xCC\xA3"        // U+0323, a combining mark
#define BOLD_A "\xF0\x9D\x90\x80"  // U+1D400, one cell

const StreamCase kTextCases[] = {
    {"PlainText", "Hello", fileOf({"Hello"})},
    {"CrLfStartsNextRow", "A\r\nB", fileOf({"A", "B"})},
    {"LineFeedKeepsColumn", "ab\ncd", fileOf({"ab", "  cd"})},
    {"TwoByteCharacter", "caf\xC3\xA9", fileOf({"caf\xC3\xA9"})},
    {"ThreeByteCharacter", "\xE2\x82\xAC" "5", fileOf({"\xE2\x82\xAC" "5"})},
    {"EmojiTakesTwoCells", "abc\r" GRIN, fileOf({GRIN "c"})},
    {"AdjacentEmoji", GRIN GRIN "!", fileOf({GRIN GRIN "!"})},
    {"NarrowCharacterBeyondTheFirstPlane", BOLD_A "b\r" CSI "2Gc", fileOf({BOLD_A "c"})},

    // Broken sequences are dropped; an interrupting byte goes with them.
    {"InterruptingAsciiIsKept", "\xC3" "AB", fileOf({"AB"})},
    {"InterruptingLeadByteStartsAfresh", "\xC3\xC3\xA9" "x", fileOf({"\xC3\xA9x"})},
    {"BellInterruptsToo", "\xC3\x07\xA9x", fileOf({"x"})},
    {"CarriageReturnAbandonsSequence", "xy\xC3\r\xA9z", fileOf({"zy"})},
    {"EscapeAbandonsSequence", "a\xC3" CSI "C\xA9" "b", fileOf({"a b"})},
    {"EncodedSurrogateIsDropped", "a\xED\xA0\x80" "b", fileOf({"ab"})},
    {"BeyondUnicodeIsDropped", "a\xF4\x90\x80\x80" "b", fileOf({"ab"})},
    {"StrayBytesAreIgnored", "a\x80\xBF\xF8\xFF" "b", fileOf({"ab"})},
    {"LargestCharacter", "\xF4\x8F\xBF\xBD", fileOf({"\xF4\x8F\xBF\xBD"})},

    // Overlong forms are decoded like any other, NUL and TAB included.
    // Nothing the program writes puts a control character into the file.
    {"OverlongFormsAreDropped", "\xC1\x81" "a\xC0\x80" "b\xE0\x80\x80" "c\xC0\x89" "d\xF0\x80\x80\x80", fileOf({"abcd"})},
    {"C1ControlsAreNotWritten", "a\xC2\x9B" "2J\xC2\x80\xC2\x9F" "b", fileOf({"a2Jb"})},
    {"DeleteIsIgnored", "a\x7F" "b", fileOf({"ab"})},
    {"OtherControlsAreIgnored", "a\0\x01\x0E\x0F\x1F" "b"s, fileOf({"ab"})},
    {"VerticalTabAndFormFeedMoveDown", "a\x0B" "b\x0C" "c", fileOf({"a", " b", "  c"})},

    // Autowrap happens only when the next character arrives.
    {"FullRowThenCharacterWraps", kA120 + "b", fileOf({kA120, "b"})},
    {"FullRowThenCrLfLeavesNoEmptyRow", kA120 + "\r\nb", fileOf({kA120, "b"})},
    {"WrapAtBottomScrolls", "1111122222333334", fileOf({"22222", "33333", "4"}), {.cols = 5, .rows = 3}},
    {"OneCellScreenKeepsLastCharacter", "abc", fileOf({"c"}), {.cols = 1, .rows = 1}},
    {"NoRowsMeansOneRow", "ab\r\ncd", fileOf({"cd"}), {.cols = 5, .rows = 0}},
    {"FullScreenScrollsOff", "1\r\n2\r\n3\r\n4\r\n5", fileOf({"3", "4", "5"}), {.cols = 5, .rows = 3}},

    // Wide characters: as a terminal places them, and never cut in two.
    {"CursorMovesCountWideCells", NI HON "\xE8\xAA\x9E" CSI "10Gx", fileOf({NI HON "\xE8\xAA\x9E   x"})},
    {"ProgressRedrawnInPlace", "\xE4\xB8\x8B\xE8\xBD\xBD: 45%" CSI "8G6", fileOf({"\xE4\xB8\x8B\xE8\xBD\xBD: 46%"})},
    {"CheckMarkIsWide", "\xE2\x9C\x85 ok" CSI "5Gx", fileOf({"\xE2\x9C\x85 ox"})},
    {"CrossMarkIsWide", "\xE2\x9D\x8C no" CSI "4Gy", fileOf({"\xE2\x9D\x8C yo"})},
    {"SeventyWideCharactersWrapAfterSixty", [] { std::string s; for (int i = 0; i < 70; ++i) s += NI; return s; }(),
     [] { std::string a, b; for (int i = 0; i < 60; ++i) a += NI; for (int i = 0; i < 10; ++i) b += NI; return fileOf({a, b}); }()},
    {"WideAtLastColumnWrapsLeavingItBlank", kA119 + NI, fileOf({kA119, NI})},
    {"WideAtLastColumnWithoutAutowrapIsDropped", CSI "?7l" + kA119 + NI, fileOf({kA119})},
    {"WideFillingTheRowEndsWithAPendingWrap", std::string(118, 'a') + NI "b", fileOf({std::string(118, 'a') + NI, "b"})},
    {"WideOnAOneColumnScreenIsDropped", "a" NI "b", fileOf({"a", "b"}), {.cols = 1, .rows = 2}},
    {"FirstHalfOverwritten", NI HON "\rx", fileOf({"x " HON})},
    {"SecondHalfOverwritten", NI HON "\r" CSI "Cy", fileOf({" y" HON})},
    {"WriteEndingOnAFirstHalf", "ab" NI "\r" CSI "2Gxy", fileOf({"axy"})},
    {"WideOverWide", NI HON "\r" CSI "2G" GRIN, fileOf({" " GRIN})},
    {"EraseOfASecondHalfBlanksBoth", NI HON "\r" CSI "2G" CSI "X", fileOf({"  " HON})},
    {"EraseToEndFromASecondHalf", "a" NI HON "\r" CSI "3G" CSI "K", fileOf({"a"})},
    {"InsertIntoAWideCharacter", NI HON "\r" CSI "2G" CSI "@", fileOf({"   " HON})},
    {"InsertPushesAWideCharacterOffTheEdge", "ab" NI HON "\r" CSI "@", fileOf({" ab" NI}), {.cols = 6, .rows = 1}},
    {"DeleteFromASecondHalf", NI HON "\r" CSI "2G" CSI "P", fileOf({" " HON})},
    {"DeleteAFirstHalf", NI HON "\r" CSI "3G" CSI "P", fileOf({NI})},
    {"InsertModeWide", "ab\r" CSI "4h" NI, fileOf({NI "ab"})},
    // The half left at the end of the row is blanked in the text's colours
    // by insert mode, in the erase colours by CSI @ (DCH brings it into view).
    {"InsertModeTextPushesAWideCharacterOffTheEdge",
     "ab" NI HON "\r" CSI "4h" CSI "31;42mx" CSI "4l" CSI "0m\r" CSI "P" CSI "6Gz",
     fileOf({"ab" NI CSI "31m" CSI "42m " CSI "39m" CSI "49mz"}), {.cols = 6, .rows = 1, .color = true}},
    {"InsertCharactersPushesAWideCharacterOffTheEdgeInTheEraseColours",
     "ab" NI HON "\r" CSI "31;42m" CSI "@" CSI "0m" CSI "P" CSI "6Gz",
     fileOf({"ab" NI CSI "42m " CSI "49mz"}), {.cols = 6, .rows = 1, .color = true}},
    {"RepeatedWide", NI CSI "2b", fileOf({NI NI NI})},
    // A wide character dropped for want of room: a mark after it has no
    // character printed just before it, and REP repeats only the dropped one.
    {"MarkAndRepeatAfterADroppedWideCharacter", CSI "?7l" + kA119 + "b" ACUTE NI DOT_BELOW CSI "2b",
     fileOf({std::string(118, 'a') + "a" DOT_BELOW "b" ACUTE})},
    {"RepeatAfterAWideCharacterOnAOneColumnScreen", "a" NI CSI "3b", fileOf({"a"}), {.cols = 1, .rows = 4}},
    {"MarkAfterAWideCharacterOnAOneColumnScreen", CSI "4ha" NI ACUTE CSI "b", fileOf({"a"}), {.cols = 1, .rows = 4}},
    {"WideTakesTheColoursOfItsCells", CSI "31m" NI CSI "0mx", fileOf({CSI "31m" NI CSI "39mx"}), {.color = true}},

    // Marks join the character printed just before them.
    {"MarkJoinsAndTakesNoCell", "e" ACUTE "t" CSI "3Gx", fileOf({"e" ACUTE "tx"})},
    {"StackedMarks", "a" ACUTE DOT_BELOW "b", fileOf({"a" ACUTE DOT_BELOW "b"})},
    {"MarkAfterAWideCharacter", NI ACUTE "x", fileOf({NI ACUTE "x"})},
    {"MarkAcrossAPendingWrap", kA120 + ACUTE "b", fileOf({kA119 + "a" ACUTE, "b"})},
    {"MarkWithoutAutowrapAtTheLastColumn", CSI "?7l" + kA120 + ACUTE, fileOf({kA119 + "a" ACUTE})},
    {"MarkInColour", CSI "31me" ACUTE CSI "0mx", fileOf({CSI "31me" ACUTE CSI "39mx"}), {.color = true}},
    {"OverwritingDropsTheMarks", "a" ACUTE "\rb", fileOf({"b"})},
    {"MarksMoveWithTheirCharacter", "xa" ACUTE "b\r" CSI "@" CSI "2G" CSI "P", fileOf({" a" ACUTE "b"})},
    {"MarkAtTheStartOfARowHasNothingToJoin", "x\r\n" ACUTE "y", fileOf({"x", "y"})},
    {"RepeatCarriesTheMarks", "e" ACUTE CSI "2b", fileOf({"e" ACUTE "e" ACUTE "e" ACUTE})},
    {"ZeroWidthJoiner", "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9" CSI "5Gx",
     fileOf({"\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9x"})},
    {"VariationSelector", "\xE2\x9D\xA4\xEF\xB8\x8F" "b", fileOf({"\xE2\x9D\xA4\xEF\xB8\x8F" "b"})},

    // Characters that would break a file into more lines than the screen
    // has, for readers that split by Unicode's rules, are dropped.
    {"LineAndParagraphSeparatorsAreDropped", "a\xE2\x80\xA8" "b\xE2\x80\xA9" "c", fileOf({"abc"})},
    {"NoncharactersAreDropped", "a\xEF\xBF\xBE" "b\xEF\xBF\xBF" "c\xEF\xB7\x90" "d\xF0\x9F\xBF\xBF" "e",
     fileOf({"abcde"})},
};

class Text : public ::testing::TestWithParam<StreamCase> {};
TEST_P(Text, File) { expectFile(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Catalogue, Text, ::testing::ValuesIn(kTextCases), caseName);

// A stream that mixes every kind of sequence, so that every split point
// falls inside one of them for some block size.
TEST(TextSplits, MixedStreamGivesSameFileInAnyBlocks) {
    const std::string stream = "caf\xC3\xA9 " CSI "31mred" CSI "0m" ESC "]2;title\x07"
                               " " GRIN " " ESC "]8;;x" ESC "\\end" ESC "7\r\n" ESC "8!";
    EXPECT_EQ(renderStreamAllSplits(stream, {.color = true}),
              fileOf({"caf\xC3\xA9 " CSI "31mred" CSI "39m " GRIN " end!"}));
}

// Text runs are scanned in bulk; a control, an escape, DEL or a UTF-8 lead
// byte must stop the run wherever it falls.
TEST(TextSplits, SpecialBytesAtEveryOffset) {
    for (std::size_t k = 0; k <= 20; ++k) {
        const std::string stream = std::string(k, 'a') + CSI "31mb\x7F" CSI "0mc\x01" "d\xC3\xA9" "e";
        EXPECT_EQ(renderStreamAllSplits(stream, {.color = true}),
                  fileOf({std::string(k, 'a') + CSI "31mb" CSI "39mcd\xC3\xA9" "e"}))
            << k << " letters first";
    }
}

}  // namespace
}  // namespace vtsnap::test
