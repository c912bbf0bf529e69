// Graphic rendition: which colours an SGR list selects, seen as the exact
// colour sequences the file gets for a letter written afterwards.
#include <string>

#include "tests/stream_case.hpp"

namespace vtsnap::test {
namespace {

// An 'x' written after the SGR `params`, in colour mode.
StreamCase sgr(std::string name, std::string params, std::string line) {
    return {std::move(name), CSI + params + "mx", fileOf({line}), {.color = true}};
}
// The line of that 'x' when `sequences` select its colours.
std::string colored(const std::string& sequences) { return sequences + "x" CSI "0m"; }

const StreamCase kSgrCases[] = {
    sgr("BasicForeground", "31", colored(CSI "31m")),
    sgr("BasicBackground", "47", colored(CSI "47m")),
    sgr("BrightForeground", "97", colored(CSI "97m")),
    sgr("BrightForegroundLowest", "90", colored(CSI "90m")),
    sgr("BrightBackground", "100", colored(CSI "100m")),
    sgr("BothAreSeparateSequences", "31;42", colored(CSI "31m" CSI "42m")),
    sgr("BoldIgnored", "1;31", colored(CSI "31m")),
    sgr("ReverseIgnored", "7", "x"),
    sgr("UnknownCodesIgnored", "29;50;89;98;99;108;32767", "x"),
    sgr("LastCodeWins", "31;32", colored(CSI "32m")),
    sgr("ResetAfterColour", "31;44;0", "x"),
    sgr("ColourAfterReset", "0;31", colored(CSI "31m")),
    sgr("EmptyFieldsReset", "31;;", "x"),
    sgr("DefaultForegroundOnly", "31;44;39", colored(CSI "44m")),
    sgr("DefaultBackgroundOnly", "31;44;49", colored(CSI "31m")),

    sgr("PaletteForeground", "38;5;196", colored(CSI "38;5;196m")),
    sgr("PaletteBackground", "48;5;200", colored(CSI "48;5;200m")),
    sgr("PaletteIndexCapped", "38;5;300", colored(CSI "38;5;255m")),
    sgr("PaletteLowIndexIsBasic", "38;5;5", colored(CSI "35m")),
    sgr("PaletteZeroIsBlack", "38;5;0", colored(CSI "30m")),
    sgr("PaletteBrightForeground", "38;5;13", colored(CSI "95m")),
    sgr("PaletteBrightBackground", "48;5;13", colored(CSI "105m")),
    sgr("PaletteSixteenIsExtended", "38;5;16", colored(CSI "38;5;16m")),
    sgr("PaletteMissingIndex", "38;5", "x"),
    sgr("PaletteMissingIndexThenColour", "38;5;;41", colored(CSI "30m" CSI "41m")),
    sgr("DirectForeground", "38;2;10;20;30", colored(CSI "38;2;10;20;30m")),
    sgr("DirectBackground", "48;2;255;128;0", colored(CSI "48;2;255;128;0m")),
    sgr("DirectComponentsCapped", "48;2;300;0;999", colored(CSI "48;2;255;0;255m")),
    sgr("DirectBlackIsNotPaletteBlack", "38;2;0;0;0", colored(CSI "38;2;0;0;0m")),
    sgr("DirectOneComponentShort", "38;2;1;2", "x"),
    sgr("DirectShortThenCodesApply", "38;2;31;32", colored(CSI "32m")),
    sgr("ExtendedUnknownKind", "38;3;5", "x"),
    sgr("ExtendedAlone", "48", "x"),
    sgr("ExtendedThenMore", "38;5;196;48;2;1;2;3;4", colored(CSI "38;5;196m" CSI "48;2;1;2;3m" )),
    sgr("ColonPalette", "38:5:196", colored(CSI "38;5;196m")),
    sgr("CurlyUnderlineIsNoColour", "4:3", "x"),
    sgr("SubParametersOfABasicCodeIgnored", "31:1;42", colored(CSI "42m")),
    sgr("SemicolonFormTakesNoSubParameters", "38;5:196", "x"),

    {"EmptySgrResets", CSI "31;41m" CSI "mx", fileOf({"x"}), {.color = true}},
    {"WrittenCellsKeepTheirColour", CSI "31ma" CSI "32mb" CSI "0mc",
     fileOf({CSI "31ma" CSI "32mb" CSI "39mc"}), {.color = true}},
    {"ColourDoesNotMoveCursor", "ab" CSI "31m\rX", fileOf({CSI "31mX" CSI "39mb"}), {.color = true}},
    {"MonochromeHasNoSequences", CSI "31;44mab" CSI "0mc", fileOf({"abc"})},
    // The first colours in a row of plain text, by writing and by erasing:
    // the cells around them keep the default.
    {"ColourErasedIntoPlainRow", "abcd" CSI "1;2H" CSI "44m" CSI "2X",
     fileOf({"a" CSI "44m  " CSI "49md"}), {.color = true}},
    {"ColourInsertedIntoPlainRow", "abcd" CSI "1;2H" CSI "41m" CSI "2@",
     fileOf({"a" CSI "41m  " CSI "49mbcd"}), {.color = true}},
    {"ColourDeletedIntoPlainRow", "abcdef" CSI "1;2H" CSI "42m" CSI "2P", fileOf({"adef"}), {.color = true}},
    {"ColourCarriesAcrossRows", CSI "31mab\r\ncd", fileOf({CSI "31mab" CSI "0m", CSI "31mcd" CSI "0m"}),
     {.color = true}},
};

class Sgr : public ::testing::TestWithParam<StreamCase> {};
TEST_P(Sgr, File) { expectFile(GetParam()); }
INSTANTIATE_TEST_SUITE_P(Catalogue, Sgr, ::testing::ValuesIn(kSgrCases), caseName);

}  // namespace
}  // namespace vtsnap::test
