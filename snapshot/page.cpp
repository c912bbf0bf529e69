#include "snapshot/page.hpp"

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "snapshot/markup.hpp"
#include "snapshot/render.hpp"
#include "terminal/color.hpp"

namespace vtsnap {

namespace {

// Rows keep their height and cells their width whatever the fonts: a
// character outside ASCII sits in a box one or two columns wide (`ch` is the
// width of one column of a monospace font), so that a glyph from a fallback
// font cannot push the rest of its row out of line. The basic and bright
// colours are classes, the common case kept short.
const std::string& style() {
    static const std::string css = [] {
        std::string rules;
        ((((rules += ":root{--fg:") += kLightForeground) += ";--bg:") += kLightBackground) += "}\n";
        (((((rules += kDarkScheme) += "{:root{--fg:") += kDarkForeground) += ";--bg:") += kDarkBackground) += "}}\n";
        rules += "body{margin:0;padding:8px;color:var(--fg);background:var(--bg)}\n";
        ((rules += ".s{") += kFontFamily) += "font-size:14px;line-height:18px}\n";
        rules += ".r{height:18px;white-space:pre}\n"
                 ".r span{display:inline-block;vertical-align:top;height:18px}\n"
                 ".r .w{width:2ch;text-align:center}.r .n{width:1ch;text-align:center}\n";
        return rules + paletteRules("color", "background");
    }();
    return css;
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

// Printable ASCII that markup carries as it is (appendMarkupText's own).
constexpr auto kAsIs = [] {
    std::array<bool, 128> table{};
    for (char c = 0x20; c < 0x7F; ++c) table[static_cast<std::size_t>(c)] = std::string_view("<>&\"'").find(c) == std::string_view::npos;
    return table;
}();

// Appends `count` cells as their bytes when every one is such a character,
// as most runs are; otherwise appends nothing and returns false.
bool appendAsIs(std::string& out, const char32_t* cells, std::int32_t count) {
    const std::size_t at = out.size();
    out.resize(at + static_cast<std::size_t>(count));
    char* text = out.data() + at;
    bool asIs = narrowAscii(text, cells, static_cast<std::size_t>(count));
    if (asIs) {
        bool other = false;
        for (std::int32_t i = 0; i < count; ++i) other |= !kAsIs[static_cast<unsigned char>(text[i])];
        asIs = !other;
    }
    if (!asIs) out.resize(at);
    return asIs;
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
        if (!appendAsIs(out, row.chars() + run.col, run.width)) {
            for (const CellText& t : row.characters(run.col, run.col + run.width)) {
                const char32_t v = markupSafe(t.ch);
                if (v < 0x80 && t.marks.empty()) {
                    appendMarkupText(out, v);
                    continue;
                }
                // Outside ASCII, a character sits in a box of its own width.
                out += t.width == 2 ? "<span class=\"w\">" : "<span class=\"n\">";
                appendMarkupText(out, v);
                for (char32_t mark : t.marks) appendMarkupText(out, mark);
                out += "</span>";
            }
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
    out += style();
    out += "</style></head><body><div class=\"s\">\n";
    const auto [first, last] = occupiedRows(screen);
    for (std::int32_t r = first; r <= last; ++r) renderPageRow(out, screen.row(r));
    out += "</div></body></html>\n";
}

}  // namespace vtsnap
