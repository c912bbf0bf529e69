#include "snapshot/page.hpp"

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "snapshot/render.hpp"
#include "terminal/color.hpp"

namespace vtsnap {

namespace {

// Rows keep their height and cells their width whatever the fonts: a
// character outside ASCII sits in a box one or two columns wide (`ch` is the
// width of one column of a monospace font), so that a glyph from a fallback
// font cannot push the rest of its row out of line.
constexpr std::string_view kStyle =
    ":root{--fg:#000000;--bg:#ffffff}\n"
    "@media (prefers-color-scheme:dark){:root{--fg:#e5e5e5;--bg:#000000}}\n"
    "body{margin:0;padding:8px;color:var(--fg);background:var(--bg)}\n"
    ".s{font-family:\"DejaVu Sans Mono\",\"Cascadia Mono\",Consolas,Menlo,\"Liberation Mono\",monospace;"
    "font-size:14px;line-height:18px}\n"
    ".r{height:18px;white-space:pre}\n"
    ".r span{display:inline-block;vertical-align:top;height:18px}\n"
    ".r .w{width:2ch;text-align:center}.r .n{width:1ch;text-align:center}\n";

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

void appendHex(std::string& out, ColorValue v) {
    const Hex hex = isDirectColor(v) ? hexOf(rgbOf(v)) : kPaletteHex[v & 0xFF];
    out.append(hex.data(), hex.size());
}

// The basic and bright colours as classes, the common case kept short.
const std::string& paletteRules() {
    static const std::string rules = [] {
        std::string css;
        for (std::uint32_t i = 0; i < 16; ++i) {
            css += ".f";
            appendDecimal(css, i);
            css += "{color:";
            appendHex(css, i);
            css += "}.b";
            appendDecimal(css, i);
            css += "{background:";
            appendHex(css, i);
            css += "}\n";
        }
        return css;
    }();
    return rules;
}

// Characters that a page must not carry as they are: controls, the line and
// paragraph separators, surrogates, noncharacters and the byte-order mark.
// The emulator never puts them in a cell; the page does not rely on it.
char32_t shown(char32_t v) {
    const bool control = v < 0x20 || (v >= 0x7F && v < 0xA0);
    const bool unsafe = v == 0x2028 || v == 0x2029 || v == 0xFEFF || (v >= 0xD800 && v < 0xE000) ||
                        (v >= 0xFDD0 && v <= 0xFDEF) || (v & 0xFFFE) == 0xFFFE || v > 0x10FFFF;
    return control || unsafe ? U'\uFFFD' : v;
}

void appendText(std::string& out, char32_t v) {
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
            appendUtf8(out, shown(v));
    }
}

// A span in colours `a`; `columns` > 0 gives it that width (a run of blanks
// that holds no text).
void openSpan(std::string& out, CellAttr a, std::int32_t columns) {
    out += "<span";
    const bool fgClass = a.fg < 16;
    const bool bgClass = a.bg < 16;
    if (fgClass || bgClass) {
        out += " class=\"";
        if (fgClass) {
            out += 'f';
            appendDecimal(out, a.fg);
        }
        if (fgClass && bgClass) out += ' ';
        if (bgClass) {
            out += 'b';
            appendDecimal(out, a.bg);
        }
        out += '"';
    }
    const bool fgStyle = a.fg != kDefaultColor && !fgClass;
    const bool bgStyle = a.bg != kDefaultColor && !bgClass;
    if (fgStyle || bgStyle || columns > 0) {
        out += " style=\"";
        if (fgStyle) {
            out += "color:";
            appendHex(out, a.fg);
            out += ';';
        }
        if (bgStyle) {
            out += "background:";
            appendHex(out, a.bg);
            out += ';';
        }
        if (columns > 0) {
            out += "width:";
            appendDecimal(out, static_cast<std::uint32_t>(columns));
            out += "ch";
        }
        out += '"';
    }
    out += '>';
}

}  // namespace

void renderPageRow(std::string& out, const char32_t* chars, const CellAttr* attrs, std::span<const CellMarks> marks,
                   std::int32_t cols) {
    renderPageRow(out, RowView(chars, attrs, marks, cols));
}

void renderPageRow(std::string& out, const RowView& row) {
    // The text ends where the file's line does; coloured blanks go on to the
    // last cell with a background of its own.
    const std::int32_t textEnd = row.textEnd();
    const std::int32_t end = row.paintEnd();
    const CellAttr* attrs = row.attrs();

    out += "<div class=\"r\">";
    for (const CellRun& run : row.runs(0, textEnd)) {
        const bool coloured = run.attr != CellAttr{};
        if (coloured) openSpan(out, run.attr, 0);
        for (const CellText& t : row.characters(run.col, run.col + run.width)) {
            const char32_t v = shown(t.ch);
            if (v < 0x80 && t.marks.empty()) {
                appendText(out, v);
                continue;
            }
            // Outside ASCII, a character sits in a box of its own width.
            out += t.width == 2 ? "<span class=\"w\">" : "<span class=\"n\">";
            appendText(out, v);
            for (char32_t mark : t.marks) appendText(out, mark);
            out += "</span>";
        }
        if (coloured) out += "</span>";
    }
    for (std::int32_t c = textEnd; c < end;) {
        const ColorValue bg = attrs[c].bg;
        std::int32_t runEnd = c + 1;
        while (runEnd < end && attrs[runEnd].bg == bg) ++runEnd;
        openSpan(out, CellAttr{kDefaultColor, bg}, runEnd - c);
        out += "</span>";
        c = runEnd;
    }
    out += "</div>\n";
}

void renderPage(std::string& out, const Screen& screen, bool live) {
    out += "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n";
    if (live) out += "<meta http-equiv=\"refresh\" content=\"1\">\n";
    out += "<meta name=\"color-scheme\" content=\"light dark\">\n<title>vtsnap</title>\n<style>\n";
    out += kStyle;
    out += paletteRules();
    out += "</style></head><body><div class=\"s\">\n";
    const auto [first, last] = occupiedRows(screen);
    for (std::int32_t r = first; r <= last; ++r) renderPageRow(out, screen.row(r));
    out += "</div></body></html>\n";
}

}  // namespace vtsnap
