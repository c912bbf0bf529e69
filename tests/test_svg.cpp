// The picture: bytes in, its size, backgrounds and text out. Which rows,
// colours of every kind, coloured blanks, each character's x, wide
// characters and marks, and that nothing a program writes becomes markup.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "snapshot/svg.hpp"
#include "tests/render_stream.hpp"

#define CSI "\x1b["

namespace vtsnap::test {
namespace {

std::string picture(std::string_view bytes, int cols = 12) {
    Screen screen(cols, 6);
    feed(screen, bytes);
    std::string out;
    renderSvg(out, screen);
    return out;
}

// The part of `svg` between `start` and the next "</g>\n".
std::string between(const std::string& svg, std::string_view start) {
    const std::size_t at = svg.find(start);
    if (at == std::string::npos) return "(missing)";
    const std::size_t end = svg.find("</g>\n", at);
    return svg.substr(at + start.size(), end - at - start.size());
}

struct SvgCase {
    const char* what;
    std::string input;
    std::string size;         // the svg element's width and height
    std::string backgrounds;  // the rectangles, a line a row
    std::string text;         // the text elements
};

TEST(Svg, PictureFromBytes) {
    const std::string wide = "width=\"124\" height=";
    const std::vector<SvgCase> cases = {
        {"blank screen: a picture of no rows", "", wide + "\"16\"", "", ""},
        {"the file's rows: first to last occupied", "\r\n\r\na\r\n\r\nb\r\n", wide + "\"70\"", "",
         "<text y=\"0\"><tspan x=\"0\">a</tspan></text>\n<text y=\"36\"><tspan x=\"0\">b</tspan></text>\n"},
        {"each character at its cell's x, blanks between them kept", "  x y", wide + "\"34\"", "",
         "<text y=\"0\"><tspan x=\"0 9 18 27 36\">  x y</tspan></text>\n"},
        {"markup as text", "]]><!E&'\"", wide + "\"34\"", "",
         "<text y=\"0\"><tspan x=\"0 9 18 27 36 45 54 63 72\">]]&gt;&lt;!E&amp;&#39;&quot;</tspan></text>\n"},
        {"basic and bright colours as classes", CSI "31;42mab" CSI "91;104mc" CSI "0md", wide + "\"34\"",
         "<rect class=\"b2\" x=\"0\" y=\"0\" width=\"18\" height=\"18\"/>"
         "<rect class=\"b12\" x=\"18\" y=\"0\" width=\"9\" height=\"18\"/>\n",
         "<text y=\"0\"><tspan class=\"f1\" x=\"0 9\">ab</tspan><tspan class=\"f9\" x=\"18\">c</tspan>"
         "<tspan x=\"27\">d</tspan></text>\n"},
        {"the 256-colour cube and grey ramp, and direct colours, as fills",
         CSI "38;5;196;48;5;232mx" CSI "38;2;1;2;3m" CSI "48:2::250:128:0my", wide + "\"34\"",
         "<rect fill=\"#080808\" x=\"0\" y=\"0\" width=\"9\" height=\"18\"/>"
         "<rect fill=\"#fa8000\" x=\"9\" y=\"0\" width=\"9\" height=\"18\"/>\n",
         "<text y=\"0\"><tspan fill=\"#ff0000\" x=\"0\">x</tspan><tspan fill=\"#010203\" x=\"9\">y</tspan></text>\n"},
        {"text runs go by foreground, backgrounds by background", CSI "31mab" CSI "44mcd", wide + "\"34\"",
         "<rect class=\"b4\" x=\"18\" y=\"0\" width=\"18\" height=\"18\"/>\n",
         "<text y=\"0\"><tspan class=\"f1\" x=\"0 9 18 27\">abcd</tspan></text>\n"},
        {"coloured blanks to the last coloured cell", "x" CSI "44m   " CSI "0m", wide + "\"34\"",
         "<rect class=\"b4\" x=\"9\" y=\"0\" width=\"27\" height=\"18\"/>\n",
         "<text y=\"0\"><tspan x=\"0\">x</tspan></text>\n"},
        {"an erase in colour: the status bar, below a row that has none", "a\r\n" CSI "44mtop" CSI "K",
         wide + "\"52\"", "<rect class=\"b4\" x=\"0\" y=\"18\" width=\"108\" height=\"18\"/>\n",
         "<text y=\"0\"><tspan x=\"0\">a</tspan></text>\n<text y=\"18\"><tspan x=\"0 9 18\">top</tspan></text>\n"},
        {"a row of coloured blanks only, at the end, is no row", "a\r\n" CSI "44m" CSI "K", wide + "\"34\"", "",
         "<text y=\"0\"><tspan x=\"0\">a</tspan></text>\n"},
        {"a coloured foreground on blanks shows nothing", "x" CSI "31m   ", wide + "\"34\"", "",
         "<text y=\"0\"><tspan x=\"0\">x</tspan></text>\n"},
        {"other characters centred on their cells, wide ones on two", "\xE4\xB8\xAD\xC3\xA9x", wide + "\"34\"", "",
         "<text y=\"0\"><tspan class=\"c\" x=\"9\">\xE4\xB8\xAD</tspan><tspan class=\"c\" x=\"22.5\">\xC3\xA9</tspan>"
         "<tspan x=\"27\">x</tspan></text>\n"},
        {"a wide character's background covers both its cells", CSI "31;43m\xE4\xB8\xAD", wide + "\"34\"",
         "<rect class=\"b3\" x=\"0\" y=\"0\" width=\"18\" height=\"18\"/>\n",
         "<text y=\"0\"><tspan class=\"f1 c\" x=\"9\">\xE4\xB8\xAD</tspan></text>\n"},
        {"marks with their character", "e\xCC\x81x", wide + "\"34\"", "",
         "<text y=\"0\"><tspan class=\"c\" x=\"4.5\">e\xCC\x81</tspan><tspan x=\"9\">x</tspan></text>\n"},
        {"a run of several pieces holds them in its colour", CSI "38;5;208mo\xE4\xB8\xADk", wide + "\"34\"", "",
         "<text y=\"0\"><tspan fill=\"#ff8700\"><tspan x=\"0\">o</tspan><tspan class=\"c\" x=\"18\">\xE4\xB8\xAD"
         "</tspan><tspan x=\"27\">k</tspan></tspan></text>\n"},
        {"line and paragraph separators and U+FFFE never arrive", "a\xE2\x80\xA8" "b\xEF\xBF\xBE" "c",
         wide + "\"34\"", "", "<text y=\"0\"><tspan x=\"0 9 18\">abc</tspan></text>\n"},
    };
    for (const SvgCase& c : cases) {
        const std::string svg = picture(c.input);
        EXPECT_NE(svg.find(c.size), std::string::npos) << c.what << "\n" << svg.substr(0, 200);
        EXPECT_EQ(between(svg, "<g transform=\"translate(8 8)\">\n"), c.backgrounds) << c.what;
        EXPECT_EQ(between(svg, "<g transform=\"translate(8 21)\">\n"), c.text) << c.what;
    }
}

// The same screen gives the same bytes: nothing of the time, the place or
// chance is in the picture.
TEST(Svg, SameScreenSameBytes) {
    const std::string bytes = CSI "31;44mred/blue" CSI "0m\r\n\xE4\xB8\xAD e\xCC\x81";
    EXPECT_EQ(picture(bytes, 80), picture(bytes, 80));
    const std::string svg = picture(bytes, 80);
    for (std::string_view absent : {"id=", "script", "foreignObject", "href", " on", "url(", "@import", "<!"})
        EXPECT_EQ(svg.find(absent), std::string::npos) << absent;
}

}  // namespace
}  // namespace vtsnap::test
