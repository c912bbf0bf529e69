#include "snapshot/svg.hpp"

#include <cstddef>
#include <string_view>
#include <vector>

#include "snapshot/markup.hpp"
#include "snapshot/render.hpp"
#include "terminal/color.hpp"
#include "terminal/row_view.hpp"

namespace vtsnap {

namespace {

// The baseline within a cell's 18 pixels, for a 15-pixel font: a cell 9
// pixels wide is DejaVu Sans Mono's advance (0.602 em) at that size.
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

// The row's coloured backgrounds at `y` within the screen, a rectangle for
// each run of cells in one background.
void appendBackgrounds(std::string& out, const ColumnXs& xs, std::string_view y, const RowView& row) {
    const auto runs = row.runs(0, row.paintEnd());
    for (auto run = runs.begin(); run != runs.end();) {
        const ColorValue bg = run->attr.bg;
        const std::int32_t from = run->col;
        std::int32_t to = from + run->width;
        for (++run; run != runs.end() && run->attr.bg == bg; ++run) to = run->col + run->width;
        if (bg == kDefaultColor) continue;
        out += "<rect";
        appendColour(out, 'b', bg, false);
        out += " x=\"";
        xs.append(out, from);
        ((out += "\" y=\"") += y) += "\" width=\"";
        xs.append(out, to - from);
        static_assert(kSvgCellHeight == 18);
        out += "\" height=\"18\"/>";
    }
}

// What one text element holds: ASCII characters (from `col` to `end`), or one
// other character with its marks.
struct Piece {
    std::int32_t col;
    std::int32_t end;
    bool ascii;
    CellText text;
};

// Cells `from` to `to`, in foreground `fg`, as one element: each character
// has its own x. ASCII characters take an element's list of x; each other
// character is an element of its own with one x, since readers count the
// characters of such a list differently (UTF-16 units, code points,
// clusters). A run of one piece carries its colour itself; a longer one
// holds its pieces.
void appendRun(std::string& out, const ColumnXs& xs, const RowView& row, std::int32_t from, std::int32_t to,
               ColorValue fg, std::vector<Piece>& pieces) {
    // Printable ASCII without marks (kHasMarks is a high bit): the cells as
    // they are, the common case.
    const char32_t* chars = row.chars();
    const auto ascii = [chars](std::int32_t c) { return chars[c] - 0x20u < 0x5Fu; };
    pieces.clear();
    for (std::int32_t c = from; c < to;) {
        if (ascii(c)) {
            std::int32_t end = c + 1;
            while (end < to && ascii(end)) ++end;
            pieces.push_back({c, end, true, {}});
            c = end;
            continue;
        }
        const CellText t = row.cell(c);
        if (t.width != 0) pieces.push_back({c, c + t.width, false, t});  // the second half of nothing shows nothing
        c += t.width != 0 ? t.width : 1;
    }
    const bool holds = pieces.size() > 1 && fg != kDefaultColor;
    if (holds) {
        out += "<tspan";
        appendColour(out, 'f', fg, false);
        out += '>';
    }
    const ColorValue pieceColour = pieces.size() == 1 ? fg : kDefaultColor;
    for (const Piece& piece : pieces) {
        out += "<tspan";
        appendColour(out, 'f', pieceColour, !piece.ascii);
        out += " x=\"";
        if (piece.ascii) {
            xs.append(out, piece.col, piece.end);
            out += "\">";
            appendAsciiText(out, chars + piece.col, piece.end - piece.col);
        } else {
            appendHalf(out, (piece.col + piece.end) * kSvgCellWidth);
            out += "\">";
            appendMarkupText(out, piece.text.ch);
            for (char32_t mark : piece.text.marks) appendMarkupText(out, mark);
        }
        out += "</tspan>";
    }
    if (holds) out += "</tspan>";
}

// The row's text at `y`, up to where the file's line ends, a run of cells in
// one foreground at a time.
void appendText(std::string& out, const ColumnXs& xs, std::string_view y, const RowView& row,
                std::vector<Piece>& pieces) {
    const std::int32_t textEnd = row.textEnd();
    if (textEnd == 0) return;
    ((out += "<text y=\"") += y) += "\">";
    const auto runs = row.runs(0, textEnd);
    for (auto run = runs.begin(); run != runs.end();) {
        const ColorValue fg = run->attr.fg;
        const std::int32_t from = run->col;
        std::int32_t to = from + run->width;
        for (++run; run != runs.end() && run->attr.fg == fg; ++run) to = run->col + run->width;
        appendRun(out, xs, row, from, to, fg, pieces);
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
    const std::int32_t top = first;  // a lambda may not capture a structured binding before clang 16
    const auto rowY = [&](std::int32_t r) -> std::string_view {
        y.clear();
        appendDecimal(y, static_cast<std::uint32_t>((r - top) * kSvgCellHeight));
        return y;
    };
    for (std::int32_t r = first; r <= last; ++r) {
        const std::size_t before = out.size();
        appendBackgrounds(out, xs, rowY(r), screen.row(r));
        if (out.size() != before) out += '\n';
    }
    out += "</g>\n<g transform=\"translate(";
    appendDecimal(out, kSvgMargin);
    out += ' ';
    appendDecimal(out, kSvgMargin + kBaseline);
    out += ")\">\n";
    std::vector<Piece> pieces;
    for (std::int32_t r = first; r <= last; ++r) appendText(out, xs, rowY(r), screen.row(r), pieces);
    out += "</g>\n</svg>\n";
}

}  // namespace vtsnap
