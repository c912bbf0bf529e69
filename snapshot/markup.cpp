#include "snapshot/markup.hpp"

#include <array>
#include <cstddef>
#include <cstdint>

#include "snapshot/render.hpp"

namespace vtsnap {

namespace {

using Hex = std::array<char, 7>;

constexpr Hex hexOf(Rgb c) {
    constexpr char kDigits[] = "0123456789abcdef";
    return {'#', kDigits[c.r >> 4], kDigits[c.r & 15], kDigits[c.g >> 4],
            kDigits[c.g & 15], kDigits[c.b >> 4], kDigits[c.b & 15]};
}

constexpr std::array<Hex, 256> kPaletteHex = [] {
    std::array<Hex, 256> table{};
    for (std::size_t i = 0; i < 256; ++i) table[i] = hexOf(kPalette[i]);
    return table;
}();

}  // namespace

char32_t markupSafe(char32_t v) {
    const bool control = v < 0x20 || (v >= 0x7F && v < 0xA0);
    const bool unsafe = v == 0x2028 || v == 0x2029 || v == 0xFEFF || (v >= 0xD800 && v < 0xE000) ||
                        (v >= 0xFDD0 && v <= 0xFDEF) || (v & 0xFFFE) == 0xFFFE || v > 0x10FFFF;
    return control || unsafe ? U'\uFFFD' : v;
}

void appendHex(std::string& out, ColorValue v) {
    const Hex hex = isDirectColor(v) ? hexOf(rgbOf(v)) : kPaletteHex[v & 0xFF];
    out.append(hex.data(), hex.size());
}

std::string paletteRules(std::string_view foreground, std::string_view background) {
    std::string css;
    for (std::uint32_t i = 0; i < 16; ++i) {
        css += ".f";
        appendDecimal(css, i);
        (css += '{') += foreground;
        css += ':';
        appendHex(css, i);
        css += "}.b";
        appendDecimal(css, i);
        (css += '{') += background;
        css += ':';
        appendHex(css, i);
        css += "}\n";
    }
    return css;
}

void appendMarkupText(std::string& out, char32_t v) {
    switch (v) {
    case U'<': out += "&lt;"; return;
    case U'>': out += "&gt;"; return;
    case U'&': out += "&amp;"; return;
    case U'"': out += "&quot;"; return;
    case U'\'': out += "&#39;"; return;
    default:
        if (v >= 0x20 && v < 0x7F)
            out += static_cast<char>(v);  // most of a page, without the general encoder
        else
            appendUtf8(out, markupSafe(v));
    }
}

}  // namespace vtsnap
