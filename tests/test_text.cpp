// Text: UTF-8 decoding, one cell per UTF-16 unit, deferred autowrap, and how
// characters outside the BMP come out when their halves end up apart.
#include <string>

#include "tests/stream_case.hpp"

namespace vtsnap::test {
namespace {

using namespace std::string_literals;

const std::string kA120(120, 'a');
const std::string kA119(119, 'a');
#define GRIN "\xF0\x9F\x98\x80"    // U+1F600, two cells
#define REPLACED "\xEF\xBF\xBD"    // U+FFFD

const StreamCase kTextCases[] = {
    {"PlainText", "Hello", fileOf({"Hello"})},
    {"CrLfStartsNextRow", "A\r\nB", fileOf({"A", "B"})},
    {"LineFeedKeepsColumn", "ab\ncd", fileOf({"ab", "  cd"})},
    {"TwoByteCharacter", "caf\xC3\xA9", fileOf({"caf\xC3\xA9"})},
    {"ThreeByteCharacter", "\xE2\x82\xAC" "5", fileOf({"\xE2\x82\xAC" "5"})},
    {"FourByteCharacterTakesTwoCells", "abc\r" GRIN, fileOf({GRIN "c"})},
    {"AdjacentFourByteCharacters", GRIN GRIN "!", fileOf({GRIN GRIN "!"})},

    // Broken sequences are dropped; an interrupting byte goes with them.
    {"InterruptingAsciiIsKept", "\xC3" "AB", fileOf({"AB"})},
    {"InterruptingLeadByteStartsAfresh", "\xC3\xC3\xA9" "x", fileOf({"\xC3\xA9x"})},
    {"BellInterruptsToo", "\xC3\x07\xA9x", fileOf({"x"})},
    {"CarriageReturnAbandonsSequence", "xy\xC3\r\xA9z", fileOf({"zy"})},
    {"EscapeAbandonsSequence", "a\xC3" CSI "C\xA9" "b", fileOf({"a b"})},
    {"EncodedSurrogateIsDropped", "a\xED\xA0\x80" "b", fileOf({"ab"})},
    {"BeyondUnicodeIsDropped", "a\xF4\x90\x80\x80" "b", fileOf({"ab"})},
    {"StrayBytesAreIgnored", "a\x80\xBF\xF8\xFF" "b", fileOf({"ab"})},
    {"LargestCodePoint", "\xF4\x8F\xBF\xBF", fileOf({"\xF4\x8F\xBF\xBF"})},

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

    // A half of a pair standing alone is written as U+FFFD rather than
    // stopping the whole file from being rendered.
    {"PairSplitByWrap", kA119 + GRIN, fileOf({kA119 + REPLACED, REPLACED})},
    {"PairSplitByWrapThenText", kA119 + GRIN "z", fileOf({kA119 + REPLACED, REPLACED "z"})},
    {"HighHalfOverwritten", GRIN "\rx", fileOf({"x" REPLACED})},
    {"LowHalfOverwritten", GRIN "\r" CSI "Cy", fileOf({REPLACED "y"})},
    {"HalfBeforeAPair", GRIN "\r" CSI "C" GRIN, fileOf({REPLACED GRIN})},
    {"LoneHalfInColour", CSI "31m" GRIN "\r" CSI "Cy", fileOf({CSI "31m" REPLACED "y" CSI "0m"}),
     {.color = true}},
    {"LoneHalfElsewhereLeavesRestIntact", "top\r\n" GRIN "\rx\r\nbottom",
     fileOf({"top", "x" REPLACED, "bottom"})},
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
