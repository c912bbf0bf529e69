// Character widths at the edges of the table's blocks and of the classes it
// draws from. Every code point of Unicode 11 is checked against xterm.js by
// the differential test (char_width.xterm_js); these also run where node does
// not, the Windows build included.
#include <gtest/gtest.h>

#include "terminal/char_width.hpp"

namespace vtsnap::test {
namespace {

struct WidthCase {
    char32_t first, last;  // every code point in between has the width
    int width;
    const char* what;
};

constexpr WidthCase kWidthCases[] = {
    // Never shown.
    {0x00, 0x1F, -1, "C0 controls"},
    {0x7F, 0x9F, -1, "DEL and C1 controls"},
    {0xD800, 0xDFFF, -1, "surrogates"},
    {0x2028, 0x2029, -1, "line and paragraph separators"},
    {0xFDD0, 0xFDEF, -1, "noncharacters"},
    {0xFFFE, 0xFFFF, -1, "noncharacters at the end of the BMP"},
    {0x1FFFE, 0x1FFFF, -1, "noncharacters at the end of plane 1"},
    {0x10FFFE, 0x10FFFF, -1, "noncharacters at the end of Unicode"},
    {0xFEFF, 0xFEFF, -1, "byte-order mark"},
    {0x110000, 0x110000, -1, "beyond Unicode"},
    {0xFFFFFFFF, 0xFFFFFFFF, -1, "the largest char32_t"},

    // One cell.
    {0x20, 0x7E, 1, "ASCII"},
    {0xA0, 0xAD, 1, "Latin-1 up to the soft hyphen"},
    {0x2500, 0x257F, 1, "box drawing"},
    {0x00B1, 0x00B1, 1, "an ambiguous character"},
    {0x2713, 0x2714, 1, "check marks presented as text"},
    {0x1D400, 0x1D400, 1, "mathematical bold A, beyond the BMP"},
    {0xD7B0, 0xD7FF, 1, "Hangul jamo extended-B, one cell as in xterm.js"},
    {0x1F1E6, 0x1F1FF, 1, "regional indicators, one cell as in xterm.js"},
    {0xE000, 0xF8FF, 1, "private use"},

    // Two cells.
    {0x1100, 0x115F, 2, "Hangul leading jamo"},
    {0x3041, 0x3096, 2, "hiragana"},
    {0x4E00, 0x4E00, 2, "first unified ideograph"},
    {0x9FFF, 0x9FFF, 2, "last unified ideograph"},
    {0xAC00, 0xD7A3, 2, "Hangul syllables"},
    {0xFF01, 0xFF60, 2, "fullwidth forms"},
    {0x2705, 0x2705, 2, "white heavy check mark"},
    {0x274C, 0x274C, 2, "cross mark"},
    {0x231A, 0x231B, 2, "watch and hourglass, emoji by default"},
    {0x1F600, 0x1F64F, 2, "emoticons"},
    {0x1F680, 0x1F680, 2, "rocket"},
    {0x1FAE8, 0x1FAE8, 2, "an emoji of Unicode 15"},
    {0x20000, 0x2FFFD, 2, "plane 2, assigned or not"},
    {0x30000, 0x3FFFD, 2, "plane 3, assigned or not"},
    {0x1F93B, 0x1F93B, 2, "modern pentathlon, wide in Unicode 11"},

    // Joining the character before.
    {0x0300, 0x036F, 0, "combining diacritics"},
    {0x0488, 0x0489, 0, "enclosing marks"},
    {0x1160, 0x11FF, 0, "Hangul jamo medials and finals"},
    {0x200B, 0x200D, 0, "ZWSP, ZWNJ, ZWJ"},
    {0x2060, 0x2064, 0, "word joiner and invisible operators"},
    {0xFE00, 0xFE0F, 0, "variation selectors"},
    {0xE0100, 0xE01EF, 0, "variation selectors supplement"},
    {0x3099, 0x309A, 0, "kana voicing marks, wide yet nonspacing"},
    {0x0600, 0x0605, 0, "Arabic number signs, format characters"},
    {0xE0020, 0xE007F, 0, "tags"},
    {0x1734, 0x1734, 0, "Hanunoo pamudpod, nonspacing in Unicode 11"},
};

TEST(CharWidth, Classes) {
    for (const WidthCase& c : kWidthCases) {
        for (char32_t cp = c.first; cp >= c.first && cp <= c.last; ++cp) {
            ASSERT_EQ(charWidth(cp), c.width) << c.what << ": U+" << std::hex << static_cast<std::uint32_t>(cp);
        }
    }
}

// Most code points are answered by a flat table made from the generated one:
// both must give every code point, and values beyond Unicode, the same width.
TEST(CharWidth, FlatTableAgreesWithGeneratedOne) {
    for (char32_t cp = 0; cp < 0x110100; ++cp)
        ASSERT_EQ(charWidth(cp), char_width_detail::tableWidth(cp))
            << "U+" << std::hex << static_cast<std::uint32_t>(cp);
    for (char32_t cp : {char32_t{0x7FFFFFFF}, char32_t{0x80000000}, char32_t{0xFFFFFFFF}})
        ASSERT_EQ(charWidth(cp), -1);
}

}  // namespace
}  // namespace vtsnap::test
