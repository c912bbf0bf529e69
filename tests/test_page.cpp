// The web page: bytes in, the page's rows out. Which rows, the colours of
// every kind, the blanks a row keeps, wide characters and marks, and that
// nothing a program writes becomes markup.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "snapshot/page.hpp"
#include "terminal/color.hpp"
#include "tests/render_stream.hpp"

#define CSI "\x1b["

namespace vtsnap::test {
namespace {

constexpr std::string_view kBodyStart = "<div class=\"s\">\n";
constexpr std::string_view kBodyEnd = "</div></body></html>\n";

std::string page(std::string_view bytes, bool live = false, int cols = 12) {
    Screen screen(cols, 6);
    feed(screen, bytes);
    std::string out;
    renderPage(out, screen, live);
    return out;
}

// The rows, between the screen's opening and closing tags.
std::string rowsOf(const std::string& page) {
    const std::size_t start = page.find(kBodyStart);
    const std::size_t end = page.rfind(kBodyEnd);
    if (start == page.npos || end == page.npos || end < start) return "(no body)";
    return page.substr(start + kBodyStart.size(), end - start - kBodyStart.size());
}

std::string rows(std::initializer_list<std::string_view> each) {
    std::string all;
    for (std::string_view row : each) (all += "<div class=\"r\">") += std::string(row) + "</div>\n";
    return all;
}

struct PageCase {
    const char* what;
    std::string input;
    std::string expected;
};

TEST(Page, RowsFromBytes) {
    const std::vector<PageCase> cases = {
        {"blank screen: no rows", "", ""},
        {"the file's rows: first to last occupied", "\r\n\r\na\r\n\r\nb\r\n", rows({"a", "", "b"})},
        {"a row of coloured blanks only, at the end, is no row", "a\r\n" CSI "44m" CSI "K", rows({"a"})},
        {"leading blanks stay", "  x", rows({"  x"})},
        {"markup as text", "<b>&'\"", rows({"&lt;b&gt;&amp;&#39;&quot;"})},
        {"basic colours as classes", CSI "31;42mab" CSI "0mc", rows({"<span class=\"f1 b2\">ab</span>c"})},
        {"bright colours", CSI "91;104mx", rows({"<span class=\"f9 b12\">x</span>"})},
        {"the 256-colour cube and grey ramp", CSI "38;5;196;48;5;232mx",
         rows({"<span style=\"color:#ff0000;background:#080808;\">x</span>"})},
        {"direct colours", CSI "38;2;1;2;3mx" CSI "48:2::250:128:0my",
         rows({"<span style=\"color:#010203;\">x</span><span style=\"color:#010203;background:#fa8000;\">y</span>"})},
        {"default colours in between", "a" CSI "31mb" CSI "39mc", rows({"a<span class=\"f1\">b</span>c"})},
        {"default foreground on a colour", CSI "45mab", rows({"<span class=\"b5\">ab</span>"})},
        {"coloured blanks to the last coloured cell", "x" CSI "44m   " CSI "0m",
         rows({"x<span class=\"b4\" style=\"width:3ch\"></span>"})},
        {"an erase in colour: the status bar", CSI "44mtop" CSI "K",
         rows({"<span class=\"b4\">top</span><span class=\"b4\" style=\"width:9ch\"></span>"})},
        {"plain blanks between coloured ones keep their width", "x  " CSI "41m " CSI "0m",
         rows({"x<span style=\"width:2ch\"></span><span class=\"b1\" style=\"width:1ch\"></span>"})},
        {"a coloured foreground on blanks shows nothing", "x" CSI "31m   ", rows({"x"})},
        {"wide characters in two columns", "\xE4\xB8\xAD" "x", rows({"<span class=\"w\">\xE4\xB8\xAD</span>x"})},
        {"a wide character in colour", CSI "31m\xE4\xB8\xAD",
         rows({"<span class=\"f1\"><span class=\"w\">\xE4\xB8\xAD</span></span>"})},
        {"other characters in one column", "\xC3\xA9\xE2\x94\x80",
         rows({"<span class=\"n\">\xC3\xA9</span><span class=\"n\">\xE2\x94\x80</span>"})},
        {"marks with their character", "e\xCC\x81x", rows({"<span class=\"n\">e\xCC\x81</span>x"})},
        {"line and paragraph separators never arrive", "a\xE2\x80\xA8" "b\xE2\x80\xA9" "c", rows({"abc"})},
    };
    for (const PageCase& c : cases) EXPECT_EQ(rowsOf(page(c.input)), c.expected) << c.what;
}

TEST(Page, RefreshesOnlyWhileLive) {
    constexpr std::string_view kRefresh = "<meta http-equiv=\"refresh\" content=\"1\">";
    EXPECT_NE(page("x", true).find(kRefresh), std::string::npos);
    EXPECT_EQ(page("x", false).find(kRefresh), std::string::npos);
    EXPECT_EQ(rowsOf(page("x", true)), rowsOf(page("x", false)));
}

// The writer itself, given cells the emulator never makes: whatever they
// hold, the page gets text and no control character.
TEST(Page, UnsafeCellsBecomeReplacementCharacters) {
    const std::u32string cells = {U'<', 0x01, 0x1B, 0x7F, 0x9B, 0x2028, 0x2029, 0xD800, 0xFEFF, 0xFFFF, 0x110000, U'a'};
    const std::vector<CellAttr> attrs(cells.size());
    std::string out;
    renderPageRow(out, cells.data(), attrs.data(), {}, static_cast<std::int32_t>(cells.size()));
    std::string replacements;
    for (int i = 0; i < 10; ++i) replacements += "<span class=\"n\">\xEF\xBF\xBD</span>";
    EXPECT_EQ(out, rows({"&lt;" + replacements + "a"}));
}

// Hostile output in every form the decoder sees it: the only tags in the
// body are the page's own, and no byte breaks a line or hides in one.
TEST(Page, NothingWrittenBecomesMarkup) {
    using namespace std::string_literals;
    const std::string hostile =
        "<script>alert(1)</script></pre></div><!-- \"'&amp;\r\n"
        "\x1b]0;<script>title</script>\x07<img src=x onerror=alert(1)>\r\n" CSI "31m</span><style>\r\n"
        "\xE2\x80\xA8<a href='x'>\xE2\x80\xA9\xC2\x9B" "31m\x00\x01\x7F\xEF\xBB\xBF\xEF\xBF\xBE"s;
    const std::string body = rowsOf(page(hostile, true, 80));
    // Every '<' opens one of the page's own tags: a row, or a span with a
    // class or style made of these characters alone.
    for (std::size_t at = body.find('<'); at != std::string::npos; at = body.find('<', at + 1)) {
        const std::size_t end = body.find('>', at);
        ASSERT_NE(end, std::string::npos) << body.substr(at);
        const std::string_view tag(body.data() + at + 1, end - at - 1);
        const bool own = tag == "div class=\"r\"" || tag == "/div" || tag == "/span" ||
                         (tag.starts_with("span") &&
                          tag.find_first_not_of("abcdefghijklmnopqrstuvwxyz0123456789 #:;=\"") == std::string::npos);
        EXPECT_TRUE(own) << tag;
        EXPECT_EQ(tag.find('<'), std::string::npos) << tag;
    }
    EXPECT_EQ(std::count(body.begin(), body.end(), '<'), std::count(body.begin(), body.end(), '>')) << body;
    for (unsigned char byte : body) EXPECT_FALSE(byte < 0x20 && byte != '\n') << int(byte);
    for (std::string_view unsafe : {"\xE2\x80\xA8", "\xE2\x80\xA9", "\xC2\x9B", "\xEF\xBB\xBF", "\xEF\xBF\xBE"})
        EXPECT_EQ(body.find(unsafe), std::string::npos);
    EXPECT_NE(body.find("&lt;script&gt;alert(1)&lt;/script&gt;&lt;/pre&gt;&lt;/div&gt;&lt;!-- &quot;&#39;&amp;amp;"),
              std::string::npos);
}

// xterm's default palette, as xterm and the 256-colour charts give it.
TEST(Palette, XtermDefaults) {
    const std::vector<std::pair<ColorValue, Rgb>> colours = {
        {0, {0, 0, 0}},          {1, {0xcd, 0, 0}},         {7, {0xe5, 0xe5, 0xe5}},   {8, {0x7f, 0x7f, 0x7f}},
        {12, {0x5c, 0x5c, 0xff}}, {15, {0xff, 0xff, 0xff}}, {16, {0, 0, 0}},           {21, {0, 0, 0xff}},
        {67, {0x5f, 0x87, 0xaf}}, {196, {0xff, 0, 0}},      {231, {0xff, 0xff, 0xff}}, {232, {8, 8, 8}},
        {244, {0x80, 0x80, 0x80}}, {255, {0xee, 0xee, 0xee}}, {0x01123456, {0x12, 0x34, 0x56}},
    };
    for (const auto& [value, rgb] : colours) EXPECT_EQ(rgbOf(value), rgb) << value;
    EXPECT_FALSE(isDirectColor(kDefaultColor));
    EXPECT_EQ(directColor({0x12, 0x34, 0x56}), 0x01123456u);
}

}  // namespace
}  // namespace vtsnap::test
