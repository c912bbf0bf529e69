// The tool's command line, for every character type it is scanned in: char
// (POSIX argv), wchar_t (Windows) and char16_t.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

#include "capture/command_line.hpp"

namespace vtsnap {
namespace {

template <class Char>
std::basic_string<Char> widen(std::string_view text) {
    std::basic_string<Char> out;
    for (char c : text) out += Char(static_cast<unsigned char>(c));
    return out;
}

// An argument vector: entry 0 is the tool itself.
template <class Char>
struct Args {
    explicit Args(std::initializer_list<std::string_view> words) {
        storage.push_back(widen<Char>("vtsnap"));
        for (auto w : words) storage.push_back(widen<Char>(w));
        for (const auto& s : storage) views.emplace_back(s);
    }
    std::vector<std::basic_string<Char>> storage;
    std::vector<std::basic_string_view<Char>> views;
};

template <class Char>
class CommandLineTest : public ::testing::Test {
protected:
    static std::int32_t readNumber(std::string_view text) {
        const auto wide = widen<Char>(text);
        return readInt(std::basic_string_view<Char>(wide));
    }
    static std::optional<CommandLine<Char>> scan(std::initializer_list<std::string_view> words,
                                                 bool backslashSeparates = true) {
        Args<Char> args(words);
        return scanCommandLine(args.views, backslashSeparates);
    }
    static std::basic_string<Char> dir(std::string_view path, bool backslashSeparates) {
        const auto wide = widen<Char>(path);
        return directoryOf(std::basic_string_view<Char>(wide), backslashSeparates);
    }
    static std::basic_string<Char> child(std::initializer_list<std::string_view> words) {
        Args<Char> args(words);
        auto line = scanCommandLine(args.views, true);
        if (!line) return widen<Char>("<unusable>");
        return buildChildCommandLine(args.views, line->programIndex);
    }
    static std::basic_string<Char> w(std::string_view text) { return widen<Char>(text); }
};

using CharTypes = ::testing::Types<char, wchar_t, char16_t>;
TYPED_TEST_SUITE(CommandLineTest, CharTypes);

TYPED_TEST(CommandLineTest, ReadsNumbersLikeTheRuntime) {
    EXPECT_EQ(this->readNumber("50"), 50);
    EXPECT_EQ(this->readNumber("12abc"), 12);
    EXPECT_EQ(this->readNumber("0x10"), 0);
    EXPECT_EQ(this->readNumber(""), 0);
    EXPECT_EQ(this->readNumber("abc"), 0);
    EXPECT_EQ(this->readNumber(" \t\n\v\f\r42"), 42);
    EXPECT_EQ(this->readNumber("+7"), 7);
    EXPECT_EQ(this->readNumber("-3"), -3);
    EXPECT_EQ(this->readNumber("+-5"), 0);
    EXPECT_EQ(this->readNumber("- 5"), 0);
    EXPECT_EQ(this->readNumber("0042"), 42);
}

TYPED_TEST(CommandLineTest, SaturatesAtTheThirtyTwoBitLimits) {
    EXPECT_EQ(this->readNumber("2147483647"), INT32_MAX);
    EXPECT_EQ(this->readNumber("2147483648"), INT32_MAX);
    EXPECT_EQ(this->readNumber("99999999999"), INT32_MAX);
    EXPECT_EQ(this->readNumber("999999999999999999999999999999"), INT32_MAX);
    EXPECT_EQ(this->readNumber("-2147483648"), INT32_MIN);
    EXPECT_EQ(this->readNumber("-2147483649"), INT32_MIN);
    EXPECT_EQ(this->readNumber("-99999999999999999999"), INT32_MIN);
    EXPECT_EQ(this->readNumber("-2147483647"), -2147483647);
}

TYPED_TEST(CommandLineTest, ProgramAndOutputWithDefaults) {
    auto line = this->scan({"prog", "out.txt"});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->rowCount, 100);
    EXPECT_FALSE(line->useColor);
    EXPECT_EQ(line->programIndex, 1u);
    EXPECT_EQ(line->programPath, this->w("prog"));
    EXPECT_EQ(line->outputPath(), this->w("out.txt"));
    EXPECT_EQ(line->workingDirectory, this->w(""));
}

TYPED_TEST(CommandLineTest, OptionsInEitherCaseAndAnyOrder) {
    auto line = this->scan({"-ROWS=50", "-Color", "prog", "a", "b", "out.txt"});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->rowCount, 50);
    EXPECT_TRUE(line->useColor);
    EXPECT_EQ(line->programIndex, 3u);
    EXPECT_EQ(line->programPath, this->w("prog"));
    EXPECT_EQ(line->outputPath(), this->w("out.txt"));

    line = this->scan({"-color", "-rows=7", "-COLOR", "prog", "out.txt"});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->rowCount, 7);
    EXPECT_TRUE(line->useColor);
    EXPECT_EQ(line->programIndex, 4u);
}

TYPED_TEST(CommandLineTest, UnusableRowValuesKeepTheEarlierOne) {
    EXPECT_EQ(this->scan({"-rows=50", "-rows=0", "prog", "out"})->rowCount, 50);
    EXPECT_EQ(this->scan({"-rows=50", "-rows=-3", "prog", "out"})->rowCount, 50);
    EXPECT_EQ(this->scan({"-rows=50", "-rows=abc", "prog", "out"})->rowCount, 50);
    EXPECT_EQ(this->scan({"-rows=", "prog", "out"})->rowCount, 100);
    EXPECT_EQ(this->scan({"-rows=-99999999999", "prog", "out"})->rowCount, 100);
    EXPECT_EQ(this->scan({"-rows=40000", "prog", "out"})->rowCount, 32767);
    EXPECT_EQ(this->scan({"-rows=99999999999", "prog", "out"})->rowCount, 32767);
    EXPECT_EQ(this->scan({"-rows=32767", "prog", "out"})->rowCount, 32767);
    EXPECT_EQ(this->scan({"-rows=1", "prog", "out"})->rowCount, 1);
    EXPECT_EQ(this->scan({"-rows=12abc", "prog", "out"})->rowCount, 12);
    EXPECT_EQ(this->scan({"-rows= 30", "prog", "out"})->rowCount, 30);
}

TYPED_TEST(CommandLineTest, NearMissesAreTheProgram) {
    auto line = this->scan({"-rows", "prog", "out.txt"});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->programPath, this->w("-rows"));
    EXPECT_EQ(line->programIndex, 1u);

    // An option and its value are always one argument.
    line = this->scan({"-rows=", "50", "prog", "out.txt"});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->rowCount, 100);
    EXPECT_EQ(line->programPath, this->w("50"));
    EXPECT_EQ(line->programIndex, 2u);

    line = this->scan({"-colors", "prog", "out.txt"});
    ASSERT_TRUE(line);
    EXPECT_FALSE(line->useColor);
    EXPECT_EQ(line->programPath, this->w("-colors"));

    line = this->scan({"-rows:5", "prog", "out.txt"});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->programPath, this->w("-rows:5"));
}

TYPED_TEST(CommandLineTest, OptionsAfterTheProgramBelongToIt) {
    auto line = this->scan({"prog", "-color", "out.txt"});
    ASSERT_TRUE(line);
    EXPECT_FALSE(line->useColor);
    EXPECT_EQ(line->outputPath(), this->w("out.txt"));

    line = this->scan({"prog", "-color"});
    ASSERT_TRUE(line);
    EXPECT_FALSE(line->useColor);
    EXPECT_EQ(line->programPath, this->w("prog"));
    EXPECT_EQ(line->outputPath(), this->w("-color"));

    line = this->scan({"prog", "-rows=5", "out.txt"});
    ASSERT_TRUE(line);
    EXPECT_EQ(line->rowCount, 100);
}

// -log= and -html= alike: the rest of the argument is the path.
TYPED_TEST(CommandLineTest, TheFileOptionsTakeTheRestAsTheirPath) {
    const std::vector<std::pair<std::string, Output>> options = {{"log", Output::Transcript},
                                                                 {"html", Output::Page}};
    for (const auto& [name, output] : options) {
        SCOPED_TRACE(name);
        const std::string option = "-" + name + "=";
        EXPECT_FALSE(this->scan({"prog", "out.txt"})->path(output));
        const std::string upper = "-" + std::string(name == "log" ? "LOG" : "HTML") + "=all";
        auto line = this->scan({upper, "-rows=5", "prog", "out.txt"});
        ASSERT_TRUE(line && line->path(output));
        EXPECT_EQ(*line->path(output), this->w("all"));
        EXPECT_EQ(line->programPath, this->w("prog"));
        // The last one counts; an empty path is kept, to fail when it is created.
        EXPECT_EQ(*this->scan({option + "a", option + "b=c", "prog", "out"})->path(output), this->w("b=c"));
        EXPECT_EQ(*this->scan({option, "prog", "out"})->path(output), this->w(""));
        // After the program, or misspelt, it is an argument.
        const std::string bare = "-" + name;
        line = this->scan({bare, "prog", option + "x", "out"});
        ASSERT_TRUE(line);
        EXPECT_FALSE(line->path(output));
        EXPECT_EQ(line->programPath, this->w(bare));
    }
    const auto both = this->scan({"-html=page.html", "-log=all.txt", "prog", "out.txt"});
    ASSERT_TRUE(both && both->path(Output::Page) && both->path(Output::Transcript));
    EXPECT_EQ(*both->path(Output::Page), this->w("page.html"));
    EXPECT_EQ(*both->path(Output::Transcript), this->w("all.txt"));
}

TYPED_TEST(CommandLineTest, TheRecordOptionTakesTheRestAsItsPath) {
    EXPECT_FALSE(this->scan({"prog", "out.txt"})->path(Output::Recording));
    auto line = this->scan({"-Record=run.cast", "-log=all.txt", "prog", "-record=x", "out.txt"});
    ASSERT_TRUE(line && line->path(Output::Recording) && line->path(Output::Transcript));
    EXPECT_EQ(*line->path(Output::Recording), this->w("run.cast"));
    EXPECT_EQ(*line->path(Output::Transcript), this->w("all.txt"));
    EXPECT_EQ(line->programPath, this->w("prog"));
    EXPECT_EQ(*this->scan({"-record=a", "-record=", "prog", "out"})->path(Output::Recording), this->w(""));
    EXPECT_EQ(this->scan({"-record", "prog", "out"})->programPath, this->w("-record"));
}

TYPED_TEST(CommandLineTest, UnusableCommandLines) {
    EXPECT_FALSE(this->scan({}));
    EXPECT_FALSE(this->scan({"prog"}));
    EXPECT_FALSE(this->scan({"-color", "out.txt"}));
    EXPECT_FALSE(this->scan({"-rows=5", "-color"}));
    EXPECT_FALSE(this->scan({"-rows=5", "-color", "prog"}));

    // An argument vector without even the tool's own name.
    std::vector<std::basic_string_view<TypeParam>> none;
    EXPECT_FALSE(scanCommandLine(none, false));
}

TYPED_TEST(CommandLineTest, WorkingDirectoryWithBothSeparators) {
    EXPECT_EQ(this->dir("D:\\tools\\app.exe", true), this->w("D:\\tools"));
    EXPECT_EQ(this->dir("sub/app.exe", true), this->w("sub"));
    EXPECT_EQ(this->dir("D:\\tools/x\\app.exe", true), this->w("D:\\tools/x"));
    EXPECT_EQ(this->dir("D:\\tools\\x/app.exe", true), this->w("D:\\tools\\x"));
    EXPECT_EQ(this->dir("D:\\app.exe", true), this->w("D:"));
    EXPECT_EQ(this->dir("\\app.exe", true), this->w(""));
    EXPECT_EQ(this->dir("app.exe", true), this->w(""));
    EXPECT_EQ(this->dir("D:app.exe", true), this->w(""));
    EXPECT_EQ(this->dir("", true), this->w(""));

    auto line = this->scan({"-color", "C:\\bin\\tool.exe", "x", "out.txt"}, true);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->workingDirectory, this->w("C:\\bin"));
}

TYPED_TEST(CommandLineTest, WorkingDirectoryWithSlashOnly) {
    // A backslash is an ordinary file-name character here.
    EXPECT_EQ(this->dir("dir\\app", false), this->w(""));
    EXPECT_EQ(this->dir("a/b\\c", false), this->w("a"));
    EXPECT_EQ(this->dir("/usr/bin/env", false), this->w("/usr/bin"));
    EXPECT_EQ(this->dir("./run.sh", false), this->w("."));
    EXPECT_EQ(this->dir("a//b", false), this->w("a/"));
    EXPECT_EQ(this->dir("/env", false), this->w(""));
    EXPECT_EQ(this->dir("env", false), this->w(""));

    auto line = this->scan({"sub dir/my\\prog", "out.txt"}, false);
    ASSERT_TRUE(line);
    EXPECT_EQ(line->workingDirectory, this->w("sub dir"));
}

TYPED_TEST(CommandLineTest, ChildLineQuotesOnlyBlanksAndTabs) {
    EXPECT_EQ(this->child({"D:\\Program Files\\app\\app.exe", "-x", "1", "out"}),
              this->w("\"D:\\Program Files\\app\\app.exe\" -x 1"));
    EXPECT_EQ(this->child({"prog", "out"}), this->w("prog"));
    EXPECT_EQ(this->child({"-rows=3", "-color", "prog", "a", "out"}), this->w("prog a"));
    EXPECT_EQ(this->child({"prog", "a\tb", "out"}), this->w("prog \"a\tb\""));
    EXPECT_EQ(this->child({"prog", " ", "out"}), this->w("prog \" \""));
    EXPECT_EQ(this->child({"prog", "a\nb", "out"}), this->w("prog a\nb"));
    EXPECT_EQ(this->child({"prog", "a\vb", "out"}), this->w("prog a\vb"));
    EXPECT_EQ(this->child({"my prog", "out"}), this->w("\"my prog\""));
}

TYPED_TEST(CommandLineTest, ChildLineCopiesQuotesAndBackslashes) {
    // Already quoted: first and last character are double quotes.
    EXPECT_EQ(this->child({"prog", "\"a b\"", "out"}), this->w("prog \"a b\""));
    EXPECT_EQ(this->child({"prog", "\"a\"b c\"", "out"}), this->w("prog \"a\"b c\""));
    // Opens with a quote but does not close with one: wrapped all the same.
    EXPECT_EQ(this->child({"prog", "\"a b", "out"}), this->w("prog \"\"a b\""));
    EXPECT_EQ(this->child({"prog", "a b\"", "out"}), this->w("prog \"a b\"\""));
    // A single double quote is both first and last character.
    EXPECT_EQ(this->child({"prog", "\"", "out"}), this->w("prog \""));
    // Backslashes before a closing quote that the tool adds are doubled, so
    // that they stay backslashes; nowhere else.
    EXPECT_EQ(this->child({"prog", "C:\\my dir\\", "out"}), this->w("prog \"C:\\my dir\\\\\""));
    EXPECT_EQ(this->child({"prog", "a b\\\\\\", "x\\", "out"}), this->w("prog \"a b\\\\\\\\\\\\\" x\\"));
    EXPECT_EQ(this->child({"prog", "a\\ b", "out"}), this->w("prog \"a\\ b\""));
    EXPECT_EQ(this->child({"prog", "\"C:\\my dir\\\"", "out"}), this->w("prog \"C:\\my dir\\\""));
    EXPECT_EQ(this->child({"prog", "a\\\"b", "out"}), this->w("prog a\\\"b"));
}

TYPED_TEST(CommandLineTest, EmptyChildArgumentsLeaveOnlyTheirBlanks) {
    EXPECT_EQ(this->child({"prog", "", "x", "out"}), this->w("prog  x"));
    EXPECT_EQ(this->child({"prog", "", "out"}), this->w("prog "));
    EXPECT_EQ(this->child({"prog", "", "", "out"}), this->w("prog  "));
}

TEST(CommandLineChars, NonAsciiLettersAreNotFoldedIntoOptions) {
    // U+0130 and U+212A fold to ASCII letters in some case mappings; the
    // option names match ASCII letters only.
    const std::u16string rowsDotted = u"-\u0130ows=5";
    const std::u16string colorKelvin = u"-colo\u212A";
    EXPECT_FALSE(startsWithNoCase(std::u16string_view(rowsDotted), "-rows="));
    EXPECT_FALSE(equalsNoCase(std::u16string_view(colorKelvin), "-color"));
    // A byte of a UTF-8 sequence is not a letter either.
    EXPECT_FALSE(equalsNoCase(std::string_view("-col\xC3\xB6r"), "-color"));
    EXPECT_TRUE(equalsNoCase(std::u16string_view(u"-CoLoR"), "-color"));
}

}  // namespace
}  // namespace vtsnap
