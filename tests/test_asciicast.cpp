// asciicast v2 lines: output bytes in, JSON out, cut at every place; and the
// reader's lines in, text (or a refusal) out.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "snapshot/asciicast.hpp"
#include "snapshot/render.hpp"
#include "terminal/screen.hpp"

namespace vtsnap {
namespace {

const std::string kNotUtf8 = "\\uffff";  // U+FFFF, escaped
const std::string kFffd = "\xEF\xBF\xBD";   // U+FFFD, as the reader gives a lone surrogate

struct EncodeCase {
    const char* name;
    std::string bytes;
    std::string json;  // the event's text as a JSON string, quotes included
};

const EncodeCase kEncodeCases[] = {
    {"plain", "plain text 123", R"("plain text 123")"},
    {"quotes and backslashes", R"(say "hi" \ \\)", R"("say \"hi\" \\ \\\\")"},
    {"short escapes", "\b\f\n\r\t", R"("\b\f\n\r\t")"},
    {"other controls", std::string("\x00\x01\x1f\x7f", 4), R"("\u0000\u0001\u001f\u007f")"},
    {"sequences", "\x1b[31mred\x1b[0m\x1b]0;title\x07\x1bP+q\x1b\\",
     R"("\u001b[31mred\u001b[0m\u001b]0;title\u0007\u001bP+q\u001b\\")"},
    {"two, three and four bytes", "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xE6\x97\xA5",
     "\"caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xE6\x97\xA5\""},
    // Controls and line ends no reader sees raw: C1, the line and paragraph separators.
    {"C1 and separators", "\xC2\x80\xC2\x9B\xC2\x9F\xC2\xA0\xE2\x80\xA8\xE2\x80\xA9\xE2\x80\xAA",
     R"("\u0080\u009b\u009f)" "\xC2\xA0" R"(\u2028\u2029)" "\xE2\x80\xAA\""},
    {"a byte that is never UTF-8", "a\xFF" "b\xC0", "\"a" + kNotUtf8 + "b" + kNotUtf8 + "\""},
    {"a lone continuation", "\x80x", "\"" + kNotUtf8 + "x\""},
    {"overlong", "\xC0\xAF\xE0\x80\xAF", "\"" + kNotUtf8 + kNotUtf8 + kNotUtf8 + kNotUtf8 + kNotUtf8 + "\""},
    {"surrogate", "\xED\xA0\x80", "\"" + kNotUtf8 + kNotUtf8 + kNotUtf8 + "\""},
    {"beyond U+10FFFF", "\xF4\x90\x80\x80", "\"" + kNotUtf8 + kNotUtf8 + kNotUtf8 + kNotUtf8 + "\""},
    // The start of a character that something else interrupts is one U+FFFF.
    {"an interrupted character", "\xE2\x82x\xF0\x9F\x98\x1b[m", "\"" + kNotUtf8 + "x" + kNotUtf8 + R"(\u001b[m")"},
};

// The event texts of `blocks` encoded one after the other, then the end.
std::vector<std::string> encode(const std::vector<std::string_view>& blocks) {
    AsciicastEncoder encoder;
    std::string out;
    for (std::string_view block : blocks)
        encoder.appendEvent(out, 0, reinterpret_cast<const std::uint8_t*>(block.data()), block.size());
    encoder.appendEnd(out, 0);
    std::vector<std::string> texts;
    std::size_t start = 0;
    for (std::size_t end; (end = out.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = out.substr(start, end - start);
        const std::string prefix = "[0.000000, \"o\", ";
        EXPECT_EQ(line.substr(0, prefix.size()), prefix);
        EXPECT_EQ(line.back(), ']');
        texts.push_back(line.substr(prefix.size(), line.size() - prefix.size() - 1));
    }
    EXPECT_EQ(start, out.size()) << "the output ends with a whole line";
    return texts;
}

std::string decodedText(const std::vector<std::string>& jsonTexts) {
    std::string all;
    for (const std::string& json : jsonTexts) {
        AsciicastEvent event;
        EXPECT_TRUE(readAsciicastEvent("[0, \"o\", " + json + "]", event)) << json;
        all += event.text;
    }
    return all;
}

TEST(AsciicastEncoder, BytesBecomeOneJsonStringAndSplitsChangeNothing) {
    for (const EncodeCase& c : kEncodeCases) {
        SCOPED_TRACE(c.name);
        const std::vector<std::string> whole = encode({c.bytes});
        ASSERT_EQ(whole.size(), 1u);
        EXPECT_EQ(whole[0], c.json);
        const std::string text = decodedText(whole);
        // Cut in two at every place, and into single bytes: a character is
        // joined again, and the text read back is the same.
        for (std::size_t cut = 0; cut <= c.bytes.size(); ++cut) {
            const std::string_view bytes(c.bytes);
            EXPECT_EQ(decodedText(encode({bytes.substr(0, cut), bytes.substr(cut)})), text) << "cut at " << cut;
        }
        std::vector<std::string_view> single;
        for (std::size_t i = 0; i < c.bytes.size(); ++i) single.push_back(std::string_view(c.bytes).substr(i, 1));
        EXPECT_EQ(decodedText(encode(single)), text);
    }
}

// The output file of a small screen shown `blocks` one after the other.
std::string screenOf(const std::vector<std::string_view>& blocks) {
    Screen screen(20, 4);
    for (std::string_view block : blocks)
        screen.feedBytes(reinterpret_cast<const std::uint8_t*>(block.data()), block.size());
    return renderSnapshot(screen, true);
}

// Replayed, a recording gives the screen the run showed live, whatever the
// program wrote and wherever the reads cut it: what the screen drops, the
// recording holds in a form that the screen drops in the same way.
TEST(AsciicastEncoder, ARecordingReplaysToTheLiveScreen) {
    const std::string streams[] = {
        "caf\xE9 au lait",
        "caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x98\x80 \xE6\x97\xA5 ok",
        "a\xFF" "b\xC0\xAF" "c\x80" "d\xED\xA0\x80" "e\xF4\x90\x80\x80" "f",
        "e\xE2\x82x\xF0\x9F\x98y\xE2\x82\xCC\x81",
        "\x1b[3\xE9" "1mred\x1b[m",
        "\x1b[3\xC3\xA9" "1mred\x1b[m",
        "\x1b\xE9" "7x\x1b(\xF0\x9F\x98" "0q",
        "\x1b[?\xF0\x9F\x98" "25l\x1b[1$\x80p",
        "\x1b]0;t\xE9t\xC3\xA9\x07" "after\x1bP\xFFq\x1b\\",
        "ab\xE9\x1b[bc\xC3\x1b[2b",
        "x\xE9\r\n\xC2\x9B" "31m\x9B" "32my",
        "cut at the end \xF0\x9F\x98",
    };
    for (const std::string& bytes : streams) {
        SCOPED_TRACE(::testing::PrintToString(bytes));
        const std::string_view b(bytes);
        for (std::size_t cut = 0; cut <= bytes.size(); ++cut) {
            const std::vector<std::string_view> blocks{b.substr(0, cut), b.substr(cut)};
            EXPECT_EQ(screenOf({decodedText(encode(blocks))}), screenOf(blocks)) << "cut at " << cut;
        }
        std::vector<std::string_view> single;
        for (std::size_t i = 0; i < b.size(); ++i) single.push_back(b.substr(i, 1));
        EXPECT_EQ(screenOf({decodedText(encode(single))}), screenOf(single));
    }
}

TEST(AsciicastEncoder, ACharacterCutBetweenBlocksGoesWholeWithTheNextEvent) {
    EXPECT_EQ(encode({"a\xF0\x9F", "\x98\x80" "b"}), (std::vector<std::string>{"\"a\"", "\"\xF0\x9F\x98\x80" "b\""}));
    // A block of nothing but a character's start makes no event.
    EXPECT_EQ(encode({"\xE2", "\x82", "\xAC"}), (std::vector<std::string>{"\"\xE2\x82\xAC\""}));
    EXPECT_EQ(encode({"", "x"}), (std::vector<std::string>{"\"x\""}));
    // One left cut when the output ends becomes U+FFFF in a last event.
    EXPECT_EQ(encode({"ok\xF0\x9F\x98"}), (std::vector<std::string>{"\"ok\"", "\"" + kNotUtf8 + "\""}));
}

TEST(AsciicastEncoder, EventsAndHeaderHaveAsciinemasLayout) {
    AsciicastEncoder encoder;
    std::string out;
    encoder.appendEvent(out, 0, reinterpret_cast<const std::uint8_t*>("a"), 1);
    encoder.appendEvent(out, 1'234'567, reinterpret_cast<const std::uint8_t*>("b\xC3"), 2);
    encoder.appendEvent(out, 3'600'000'001, reinterpret_cast<const std::uint8_t*>("\xA9"), 1);
    EXPECT_EQ(out, "[0.000000, \"o\", \"a\"]\n[1.234567, \"o\", \"b\"]\n[3600.000001, \"o\", \"\xC3\xA9\"]\n");
    EXPECT_EQ(asciicastHeader(120, 40, 1700000000, "screen-256color"),
              "{\"version\": 2, \"width\": 120, \"height\": 40, \"timestamp\": 1700000000, "
              "\"env\": {\"TERM\": \"screen-256color\"}}\n");
    EXPECT_EQ(asciicastHeader(120, 1, 5, ""), "{\"version\": 2, \"width\": 120, \"height\": 1, \"timestamp\": 5, \"env\": {}}\n");
}

struct HeaderCase {
    std::string line;
    int version;  // -1: not a header
    std::int32_t width = 0;
    std::int32_t height = 0;
};

TEST(AsciicastReader, Headers) {
    const HeaderCase cases[] = {
        {asciicastHeader(120, 40, 1700000000, "xterm"), 2, 120, 40},
        {R"( {"version": 2, "width": 80, "height": 24, "timestamp": 1, "idle_time_limit": 2.5, "title": "t \"x\"",)"
         R"( "env": {"SHELL": "/bin/bash", "TERM": null}, "theme": {"palette": ["#000", "#fff"]}, "x": [true, false]})"
         "\r",
         2, 80, 24},
        {R"({"version": 2, "width": 80.5, "height": -3})", 2, 0, 0},
        // Version 3: the size in "term"; "width" and "height" mean nothing there.
        {R"({"version": 3, "term": {"cols": 100, "rows": 30, "type": "xterm-256color", "theme": {"fg": "#fff"}},)"
         R"( "timestamp": 1, "env": {"SHELL": "/bin/zsh"}})",
         3, 100, 30},
        {R"({"version": 3, "width": 80, "height": 24})", 3, 0, 0},
        {R"({"term": {"rows": 5, "cols": 7}, "version": 3})", 3, 7, 5},
        {R"({"version": 2, "term": {"cols": 100, "rows": 30}, "width": 8, "height": 9})", 2, 8, 9},
        // Any other version is read as such, for the caller to refuse.
        {R"({"version": 1, "width": 80})", 1, 80, 0},
        {R"({"version": 4})", 4, 0, 0},
        {R"({"version": 2.5})", 0, 0, 0},
        {R"({"version": -2})", 0, 0, 0},
        // Not a header.
        {R"({"version": "2"})", -1}, {R"({"width": 80})", -1}, {R"({"version": 2} x)", -1},
        {R"({"version": 2)", -1}, {R"({"version": 2,})", -1}, {R"({version: 2})", -1},
        {"{\"version\": 2, \"t\": \"a\nb\"}", -1}, {R"([0.5, "o", "x"])", -1}, {"plain text", -1}, {"", -1},
        {R"({"version": true})", -1}, {R"({"version": 3, "term": {"cols": null}})", -1},
        {R"({"version": 3, "term": {"cols": 1)", -1},
        // Nesting is bounded, not followed to the end of the stack.
        {R"({"version": 2, "x": )" + std::string(100000, '[') + std::string(100000, ']') + "}", -1},
    };
    for (const HeaderCase& c : cases) {
        SCOPED_TRACE(c.line.substr(0, 120));
        const auto header = readAsciicastHeader(c.line);
        ASSERT_EQ(header.has_value(), c.version >= 0);
        if (!header) continue;
        EXPECT_EQ(header->version, c.version);
        EXPECT_EQ(header->width, c.width);
        EXPECT_EQ(header->height, c.height);
    }
}

struct EventCase {
    const char* line;
    bool valid;
    double seconds = 0;
    std::string type = {};
    std::string text = {};
};

const EventCase kEventCases[] = {
    {R"([0.5, "o", "a\u001b[1m"])", true, 0.5, "o", "a\x1b[1m"},
    {R"(  [ 12 ,"i","x" ]  )", true, 12, "i", "x"},
    {R"([1e2, "m", ""])", true, 100, "m", ""},
    {R"([0, "o", "\"\\\/\b\f\n\r\t"])", true, 0, "o", "\"\\/\b\f\n\r\t"},
    {R"([0, "o", "\u00e9\u20AC\ud83d\ude00"])", true, 0, "o", "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"},
    {R"([0, "o", "\ud83dx\ude00\ud83d\u0041"])", true, 0, "o", kFffd + "x" + kFffd + kFffd + "A"},
    {R"([0, "o", "\u0000"])", true, 0, "o", std::string(1, '\0')},
    {"[0, \"o\", \"raw \xC3\xA9 \xFF\"]", true, 0, "o", "raw \xC3\xA9 \xFF"},
    {R"([0.5, "o"])", false},
    {R"([0.5, "o", "x", 1])", false},
    {R"(["0.5", "o", "x"])", false},
    {R"([-1, "o", "x"])", false},
    {R"([01, "o", "x"])", false},
    {R"([.5, "o", "x"])", false},
    {R"([1., "o", "x"])", false},
    {R"([0.5, "o", "x")", false},
    {R"([0.5, "o", "x"] x)", false},
    {R"([0.5, "o", "bad \q"])", false},
    {R"([0.5, "o", "\u12"])", false},
    {R"([0.5, "o", "\u12g4"])", false},
    {"[0.5, \"o\", \"tab\tinside\"]", false},
    {R"([0.5, "o", "unterminated)", false},
    {R"([0.5, "o", "ends in \)", false},
    {R"({"version": 2})", false},
    {"", false},
};

TEST(AsciicastReader, EventLines) {
    for (const EventCase& c : kEventCases) {
        SCOPED_TRACE(c.line);
        AsciicastEvent event;
        ASSERT_EQ(readAsciicastEvent(c.line, event), c.valid);
        if (!c.valid) continue;
        EXPECT_EQ(event.seconds, c.seconds);
        EXPECT_EQ(event.type, c.type);
        EXPECT_EQ(event.text, c.text);
    }
}

// Valid UTF-8 output, cut anywhere, comes back byte for byte.
TEST(AsciicastReader, OutputComesBackFromItsEvents) {
    std::mt19937 random(7);
    const std::string pieces[] = {"a", "Z", " ", "\r\n", "\x1b[38;5;200m", "\x1b]0;t\x07", "\xC3\xA9", "\xE2\x82\xAC",
                                  "\xF0\x9F\x98\x80", "\"", "\\", "\t", std::string(1, '\0'), "\x7f", "\xC2\x9b"};
    std::string output;
    while (output.size() < 20000) output += pieces[random() % std::size(pieces)];
    std::vector<std::string_view> blocks;
    for (std::size_t at = 0; at < output.size();) {
        const std::size_t size = std::min<std::size_t>(random() % 40, output.size() - at);
        blocks.push_back(std::string_view(output).substr(at, size));
        at += size;
    }
    EXPECT_EQ(decodedText(encode(blocks)), output);
}

}  // namespace
}  // namespace vtsnap
