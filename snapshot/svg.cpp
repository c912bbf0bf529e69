#include "snapshot/svg.hpp"

#include <cstddef>
#include <span>
#include <string_view>
#include <vector>

#include "snapshot/markup.hpp"
#include "snapshot/render.hpp"
#include "terminal/color.hpp"

namespace vtsnap {

namespace {

// The font's size for a cell 9 pixels wide (DejaVu Sans Mono's advance is
// 0.602 em), and the baseline within the cell's 18 pixels.
constexpr std::int32_t kBaseline = 13;

// Every character sits at its cell's x, given in the file, so that columns
// line up whatever the font's advance. A character outside ASCII is centred
// on its one or two cells, as the page centres it, so that a glyph from a
// fallback font stays within them. Spaces are kept (xml:space for SVG 1.1
// readers, white-space for SVG 2), so that each row's text is the file's line.
const std::string& style() {
    static const std::string css = [] {
        std::string rules;
        ((((rules += "text{") += kFontFamily) += "font-size:15px;white-space:pre;fill:") += kLightForeground) +=
            "}\n";
        ((rules += ".s{fill:") += kLightBackground) += "}\n";
        (((((rules += kDarkScheme) += "{text{fill:") += kDarkForeground) += "}.s{fill:") += kDarkBackground) +=
            "}}\n";
        rules += ".c{text-anchor:middle}\n";
        return rules + paletteRules("fill", "fill");
    }();
    return css;
}

// A colour as a class for the basic and bright colours, else as a fill.
void appendColour(std::string& out, char prefix, ColorValue v, bool centred) {
    if (v < 16) {
        ((out += " class=\"") += prefix);
        appendDecimal(out, v);
        if (centred) out += " c";
        out += '"';
        return;
    }
    if (centred) out += " class=\"c\"";
    if (v != kDefaultColor) {
        out += " fill=\"";
        appendHex(out, v);
        out += '"';
    }
}

// The x of every column, "0 9 18 ...", laid out once per picture: the list
// of a run of columns is a piece of it, and the width of n cells the x of
// column n.
class ColumnXs {
public:
    explicit ColumnXs(std::int32_t cols) : starts_(static_cast<std::size_t>(cols) + 2) {
        for (std::int32_t c = 0; c <= cols; ++c) {
            starts_[static_cast<std::size_t>(c)] = list_.size();
            appendDecimal(list_, static_cast<std::uint32_t>(c * kSvgCellWidth));
            list_ += ' ';
        }
        starts_[static_cast<std::size_t>(cols) + 1] = list_.size();
    }

    // The x of columns `from` to `to` - 1, space-separated.
    void append(std::string& out, std::int32_t from, std::int32_t to) const {
        const std::size_t start = starts_[static_cast<std::size_t>(from)];
        out.append(list_, start, starts_[static_cast<std::size_t>(to)] - 1 - start);
    }
    void append(std::string& out, std::int32_t col) const { append(out, col, col + 1); }

private:
    std::string list_;
    std::vector<std::size_t> starts_;
};

// `pixels` / 2, which is a whole or a half.
void appendHalf(std::string& out, std::int32_t pixels) {
    appendDecimal(out, static_cast<std::uint32_t>(pixels / 2));
    if (pixels % 2 != 0) out += ".5";
}

// Printable ASCII characters as text, as appendMarkupText writes them.
void appendAsciiText(std::string& out, const char32_t* chars, std::int32_t count) {
    for (std::int32_t k = 0; k < count;) {
        std::int32_t end = k;
        while (end < count && chars[end] != U'<' && chars[end] != U'>' && chars[end] != U'&' && chars[end] != U'"' &&
               chars[end] != U'\'')
            ++end;
        const std::size_t start = out.size();
        out.resize(start + static_cast<std::size_t>(end - k));
        for (char* to = out.data() + start; k < end; ++k) *to++ = static_cast<char>(chars[k]);
        if (k < count) appendMarkupText(out, chars[k++]);
    }
}

// A wide character's second cell shows its first cell's colours.
CellAttr shownAttr(const char32_t* chars, const CellAttr* attrs, std::int32_t c) {
    return c > 0 && chars[c] == kWideContinuation ? attrs[c - 1] : attrs[c];
}

// The row's coloured backgrounds, a rectangle for each run of cells in one
// colour, at `y` within the screen.
void appendBackgrounds(std::string& out, const ColumnXs& xs, std::string_view y, const char32_t* chars,
                       const CellAttr* attrs, std::int32_t cols) {
    for (std::int32_t c = 0; c < cols;) {
        const ColorValue bg = shownAttr(chars, attrs, c).bg;
        std::int32_t runEnd = c + 1;
        while (runEnd < cols && shownAttr(chars, attrs, runEnd).bg == bg) ++runEnd;
        if (bg != kDefaultColor) {
            out += "<rect";
            appendColour(out, 'b', bg, false);
            out += " x=\"";
            xs.append(out, c);
            ((out += "\" y=\"") += y) += "\" width=\"";
            xs.append(out, runEnd - c);
            static_assert(kSvgCellHeight == 18);
            out += "\" height=\"18\"/>";
        }
        c = runEnd;
    }
}

// The row's text at `y`, up to where the file's line ends: each run of cells
// in one foreground colour is one element, whose characters each have their
// own x. ASCII characters take the element's list of x; each other character
// (with its marks) is an element of its own with one x, since readers count
// the characters of such a list differently (UTF-16 units, code points,
// clusters).
void appendText(std::string& out, const ColumnXs& xs, std::string_view y, const char32_t* chars,
                const CellAttr* attrs, std::span<const CellMarks> marks, std::int32_t cols) {
    const std::int32_t textEnd = trimmedCells(chars, cols);
    if (textEnd == 0) return;
    const CellMarks* nextMarks = marks.data();
    const CellMarks* const marksEnd = marks.data() + marks.size();
    // Printable ASCII without marks (kHasMarks is a high bit).
    const auto plain = [&](std::int32_t c) { return chars[c] - 0x20u < 0x5Fu; };
    // The cells that one element holds: ASCII characters, or one other
    // character and its wide character's second cell.
    const auto pieceEnd = [&](std::int32_t c, std::int32_t runEnd) {
        std::int32_t end = c + 1;
        if (plain(c))
            while (end < runEnd && plain(end)) ++end;
        else
            while (end < runEnd && chars[end] == kWideContinuation) ++end;
        return end;
    };
    ((out += "<text y=\"") += y) += "\">";
    for (std::int32_t c = 0; c < textEnd;) {
        const ColorValue fg = attrs[c].fg;
        std::int32_t runEnd = c + 1;
        while (runEnd < textEnd && (chars[runEnd] == kWideContinuation || attrs[runEnd].fg == fg)) ++runEnd;
        // A run of one piece carries its colour itself; a longer one holds
        // its pieces.
        const bool onePiece = pieceEnd(c, runEnd) == runEnd;
        const bool holds = !onePiece && fg != kDefaultColor;
        const ColorValue pieceColour = onePiece ? fg : kDefaultColor;
        if (holds) {
            out += "<tspan";
            appendColour(out, 'f', fg, false);
            out += '>';
        }
        for (std::int32_t i = c; i < runEnd;) {
            const std::int32_t end = pieceEnd(i, runEnd);
            const char32_t cell = chars[i];
            if (cell == kWideContinuation) {  // the second half of nothing shows nothing
                i = end;
                continue;
            }
            out += "<tspan";
            appendColour(out, 'f', pieceColour, !plain(i));
            out += " x=\"";
            if (plain(i)) {
                xs.append(out, i, end);
                out += "\">";
                appendAsciiText(out, chars + i, end - i);
            } else {
                appendHalf(out, (i + end) * kSvgCellWidth);
                out += "\">";
                appendMarkupText(out, cell & kCodePointMask);
                if ((cell & kHasMarks) != 0 && nextMarks != marksEnd) {
                    for (char32_t mark : nextMarks->marks) appendMarkupText(out, mark);
                    ++nextMarks;
                }
            }
            out += "</tspan>";
            i = end;
        }
        if (holds) out += "</tspan>";
        c = runEnd;
    }
    out += "</text>\n";
}

}  // namespace

void renderSvg(std::string& out, const Screen& screen) {
    const auto [first, last] = occupiedRows(screen);
    const std::int32_t cols = screen.cols();
    const auto width = static_cast<std::uint32_t>(2 * kSvgMargin + cols * kSvgCellWidth);
    const auto height = static_cast<std::uint32_t>(2 * kSvgMargin + (last - first + 1) * kSvgCellHeight);
    out += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
           "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"";
    appendDecimal(out, width);
    out += "\" height=\"";
    appendDecimal(out, height);
    out += "\" viewBox=\"0 0 ";
    appendDecimal(out, width);
    out += ' ';
    appendDecimal(out, height);
    out += "\" xml:space=\"preserve\">\n<style>\n";
    out += style();
    out += "</style>\n<rect class=\"s\" width=\"100%\" height=\"100%\"/>\n<g transform=\"translate(";
    appendDecimal(out, kSvgMargin);
    out += ' ';
    appendDecimal(out, kSvgMargin);
    out += ")\">\n";
    const ColumnXs xs(cols);
    std::string y;
    const auto rowY = [&](std::int32_t r) -> std::string_view {
        y.clear();
        appendDecimal(y, static_cast<std::uint32_t>((r - first) * kSvgCellHeight));
        return y;
    };
    for (std::int32_t r = first; r <= last; ++r) {
        const std::size_t before = out.size();
        appendBackgrounds(out, xs, rowY(r), screen.rowChars(r), screen.rowAttrs(r), cols);
        if (out.size() != before) out += '\n';
    }
    out += "</g>\n<g transform=\"translate(";
    appendDecimal(out, kSvgMargin);
    out += ' ';
    appendDecimal(out, kSvgMargin + kBaseline);
    out += ")\">\n";
    for (std::int32_t r = first; r <= last; ++r)
        appendText(out, xs, rowY(r), screen.rowChars(r), screen.rowAttrs(r), screen.rowMarks(r), cols);
    out += "</g>\n</svg>\n";
}

}  // namespace vtsnap
