// Arbitrary child output on screens of any shape, in any chunking: the Screen
// must stay consistent after every block, agree with a plain model of the same
// rules, not depend on where the blocks were cut, where the row ring starts
// or what lazily cleared rows still hold, and both renders must be exactly the
// lines the model's rows give, valid UTF-8 with no control character a
// program could have put there. Rows that scroll off, as the transcript gets
// them, are held to the same.
//
// Input layout: byte 0 picks the screen shape, byte 1 sizes it, byte 2 turns
// the twin screen's ring, byte 3 seeds the chunking; the rest is the child's
// output.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/checks.hpp"
#include "fuzz/screen_model.hpp"
#include "snapshot/render.hpp"
#include "terminal/char_width.hpp"
#include "terminal/screen.hpp"
#include "tests/screen_access.hpp"

using vtsnap::CellAttr;
using vtsnap::CellMarks;
using vtsnap::ColorValue;
using vtsnap::ParserState;
using vtsnap::Screen;
using vtsnap::kCodePointMask;
using vtsnap::kHasMarks;
using vtsnap::kWideContinuation;
using vtsnap::test::inspect;

namespace {

using vtsnap::fuzz::check;
using vtsnap::fuzz::fail;
using vtsnap::fuzz::validUtf8;

struct Shape {
    std::int32_t cols;
    std::int32_t rows;
};

// The tallest screen costs a tenth of a second to build and scan, so it takes
// two exact header bytes, which its seed carries.
Shape pickShape(std::uint8_t selector, std::uint8_t size) {
    if (selector == 0) return {1, 1};
    if (selector == 1 && size == 1) return {120, 32767};
    switch (selector % 6) {
    case 2: return {120, 100};
    case 3: return {120, 1 + size % 40};
    case 4: return {1 + size % 130, 1};
    // Dimensions below 1 are raised to 1.
    case 5: return {static_cast<std::int8_t>(size), static_cast<std::int8_t>(size ^ 0x5A)};
    default: return {1 + size % 160, 1 + (size * 7) % 50};
    }
}

// What the SGR decoder can produce: the default, a palette index, or a direct
// colour with nothing above bit 24.
HARNESS_ONLY bool validColor(ColorValue c) {
    return c == vtsnap::kDefaultColor || c <= 255 || (c & 0xFF000000u) == vtsnap::kDirectColorFlag;
}

// A character the file may carry: a Unicode scalar value that is no control
// character (C0, DEL, C1) nor one never shown.
HARNESS_ONLY bool printable(char32_t c) {
    return c >= 0x20 && !(c >= 0x7F && c <= 0x9F) && !(c >= 0xD800 && c <= 0xDFFF) && c <= 0x10FFFF &&
           vtsnap::charWidth(c) >= 0;
}

// One row of cells, as the grid keeps it: every wide character followed by
// its continuation cell (so none in the last column), no continuation cell
// without its first half, and every mark with a base: the cells flagged with
// marks and the row's entries match one for one, entries sorted by column,
// none empty or longer than the grid keeps. `attrs` may be nullptr: plain.
HARNESS_ONLY void checkRowCells(const char32_t* chars, const CellAttr* attrs, std::span<const CellMarks> marks,
                                std::int32_t cols) {
    std::size_t flagged = 0;
    for (std::int32_t c = 0; c < cols; ++c) {
        const char32_t cell = chars[c];
        if (cell == kWideContinuation) {
            check(c > 0 && chars[c - 1] != kWideContinuation &&
                      vtsnap::charWidth(chars[c - 1] & kCodePointMask) == 2,
                  "a continuation cell without its first half");
            check(attrs == nullptr || attrs[c] == attrs[c - 1], "the halves of a wide character in other colours");
            continue;
        }
        const bool continued = c + 1 < cols && chars[c + 1] == kWideContinuation;
        // Printable ASCII, by far the most common, needs no further look.
        if (cell >= 0x20 && cell < 0x7F && !continued) continue;
        check((cell & ~(kHasMarks | kCodePointMask)) == 0, "a cell with stray bits");
        const char32_t ch = cell & kCodePointMask;
        check(printable(ch), "a control character in a cell");
        const int width = vtsnap::charWidth(ch);
        check(width == 1 || width == 2, "a cell holds a character that takes no cell");
        if (width == 2) check(continued, "a wide character whose second cell is not a continuation");
        if (cell & kHasMarks) ++flagged;
    }
    for (std::size_t i = 0; i < marks.size(); ++i) {
        const CellMarks& m = marks[i];
        check(m.col >= 0 && m.col < cols, "marks beyond the row");
        check(i == 0 || marks[i - 1].col < m.col, "marks out of column order");
        check((chars[m.col] & kHasMarks) != 0, "a mark without a base");
        check(!m.marks.empty(), "an empty entry of marks");
        check(m.marks.size() <= vtsnap::Grid::kMaxMarks, "more marks than a character keeps");
        for (char32_t mark : m.marks)
            check(printable(mark) && vtsnap::charWidth(mark) == 0, "a mark that takes a cell");
    }
    check(flagged == marks.size(), "a cell flagged with marks that has none");
}

// The checks that walk the grid cost rows x cols; `wholeGrid` is set where
// that is affordable (a tall screen fed a byte at a time would not be).
HARNESS_ONLY void checkInvariants(const Screen& s, Shape asked, bool wholeGrid) {
    const std::int32_t rows = asked.rows < 1 ? 1 : asked.rows;
    const std::int32_t cols = asked.cols < 1 ? 1 : asked.cols;
    check(s.rows() == rows && s.cols() == cols, "dimensions changed");
    check(0 <= inspect(s).scrollTop() && inspect(s).scrollTop() <= inspect(s).scrollBottom() && inspect(s).scrollBottom() <= rows - 1,
          "scroll region out of bounds");
    check(0 <= inspect(s).cursorRow() && inspect(s).cursorRow() < rows, "cursor row out of bounds");
    check(0 <= inspect(s).cursorCol() && inspect(s).cursorCol() < cols, "cursor column out of bounds");
    // Only a character written into the last column sets it; every column
    // move clears it.
    check(!inspect(s).wrapPending() || inspect(s).cursorCol() == cols - 1, "wrap pending away from the last column");
    check(static_cast<int>(inspect(s).parserState()) < vtsnap::kParserStates, "decoder state out of range");
    check(validColor(inspect(s).currentAttr().fg) && validColor(inspect(s).currentAttr().bg), "currentAttr not a colour");
    check(0 <= s.usedRows() && s.usedRows() <= rows, "usedRows out of range");
    if (!wholeGrid) return;
    for (std::int32_t r = 0; r < rows; ++r) {
        const char32_t* text = s.rowChars(r);
        const CellAttr* attrs = s.rowAttrs(r);
        if (s.rowIsBlank(r)) {
            // Blank rows read as spaces in default colours, whatever colour
            // they were blanked in; that colour's foreground is the default.
            for (std::int32_t c = 0; c < cols; ++c)
                check(text[c] == U' ' && attrs[c] == CellAttr{}, "a blank row reads as more than spaces");
            check(s.rowMarks(r).empty(), "a blank row has marks");
            const CellAttr fill = inspect(s).cellAttr(r, 0);
            check(fill.fg == vtsnap::kDefaultColor && validColor(fill.bg), "a blank row's colours");
            continue;
        }
        // The renderer does not look below usedRows().
        check(r < s.usedRows(), "a row below usedRows() is not blank");
        for (std::int32_t c = 0; c < cols; ++c)
            check(validColor(attrs[c].fg) && validColor(attrs[c].bg), "cell colour not a colour");
        checkRowCells(text, attrs, s.rowMarks(r), cols);
    }
}

HARNESS_ONLY bool sameMarks(std::span<const CellMarks> a, std::span<const CellMarks> b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i].col != b[i].col || a[i].marks != b[i].marks) return false;
    return true;
}

HARNESS_ONLY void checkSameState(const Screen& a, const Screen& b) {
    check(a.rows() == b.rows() && a.cols() == b.cols(), "twin dimensions differ");
    for (std::int32_t r = 0; r < a.rows(); ++r) {
        const char32_t* ca = a.rowChars(r);
        const char32_t* cb = b.rowChars(r);
        // A blank row reads as default colours; its cells have the colours
        // it was blanked in.
        const bool blankA = a.rowIsBlank(r), blankB = b.rowIsBlank(r);
        const CellAttr* attrsA = a.rowAttrs(r);
        const CellAttr* attrsB = b.rowAttrs(r);
        const CellAttr fillA = inspect(a).cellAttr(r, 0), fillB = inspect(b).cellAttr(r, 0);
        for (std::int32_t c = 0; c < a.cols(); ++c) {
            check(ca[c] == cb[c], "cell text depends on chunking, ring origin or stale rows");
            check((blankA ? fillA : attrsA[c]) == (blankB ? fillB : attrsB[c]),
                  "cell colours depend on chunking, ring origin or stale rows");
        }
        check(sameMarks(a.rowMarks(r), b.rowMarks(r)), "marks depend on chunking, ring origin or stale rows");
    }
    check(inspect(a).currentAttr() == inspect(b).currentAttr(), "currentAttr differs");
    check(inspect(a).cursorRow() == inspect(b).cursorRow() && inspect(a).cursorCol() == inspect(b).cursorCol(), "cursor differs");
    check(inspect(a).scrollTop() == inspect(b).scrollTop() && inspect(a).scrollBottom() == inspect(b).scrollBottom(), "scroll region differs");
    check(inspect(a).wrapPending() == inspect(b).wrapPending(), "wrapPending differs");
    check(inspect(a).parserState() == inspect(b).parserState(), "decoder state differs");
}

// Whoever runs `cat` on the file must get text: a line (without its CR LF) is
// valid UTF-8 whose only control is, in colour, the ESC of each colour
// sequence. (Being valid UTF-8, C1 controls can only be C2 80 to C2 9F.)
HARNESS_ONLY void checkLine(std::string_view line, bool colour) {
    check(validUtf8(line), colour ? "a colour line is not valid UTF-8" : "a monochrome line is not valid UTF-8");
    for (std::size_t i = 0; i < line.size(); ++i) {
        const auto b = static_cast<unsigned char>(line[i]);
        if (b == 0x1B) {
            check(colour, "ESC in a monochrome line");
            check(i + 1 < line.size() && line[i + 1] == '[', "ESC in a line that starts no colour sequence");
        } else {
            check(b >= 0x20 && b != 0x7F, "a C0 control or DEL in a line");
            check(!(b == 0xC2 && i + 1 < line.size() && static_cast<unsigned char>(line[i + 1]) <= 0x9F),
                  "a C1 control in a line");
        }
    }
}

// A file: each line checked, each ended by CR LF.
HARNESS_ONLY void checkLines(std::string_view lines, bool colour) {
    while (!lines.empty()) {
        const std::size_t end = lines.find("\r\n");
        check(end != std::string_view::npos, "a line not ended by CR LF");
        checkLine(lines.substr(0, end), colour);
        lines.remove_prefix(end + 2);
    }
}

HARNESS_ONLY void appendCodePoint(std::string& out, std::uint32_t v) {
    if (v < 0x80) {
        out += static_cast<char>(v);
    } else if (v < 0x800) {
        out += static_cast<char>(0xC0 | (v >> 6));
        out += static_cast<char>(0x80 | (v & 0x3F));
    } else if (v < 0x10000) {
        out += static_cast<char>(0xE0 | (v >> 12));
        out += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (v & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (v >> 18));
        out += static_cast<char>(0x80 | ((v >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((v >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (v & 0x3F));
    }
}

// ---- The file the rules give --------------------------------------------------------------

using vtsnap::model::Cell;
using vtsnap::model::Row;

HARNESS_ONLY bool plainBlank(const Cell& cell) { return cell.ch == U' ' && cell.marks.empty() && !cell.secondHalf; }

HARNESS_ONLY bool occupied(const Row& row) {
    for (const Cell& cell : row)
        if (!plainBlank(cell)) return true;
    return false;
}

// A colour as the file writes it: ESC [ 3x / 4x, 9x / 10x, 38;5 / 48;5, or
// 38;2 / 48;2 with the three channels; 39 / 49 for the default.
HARNESS_ONLY void appendColour(std::string& out, bool foreground, ColorValue v) {
    out += "\x1b[";
    if (v == vtsnap::kDefaultColor) {
        out += foreground ? "39" : "49";
    } else if (v < 8) {
        out += std::to_string((foreground ? 30 : 40) + static_cast<int>(v));
    } else if (v < 16) {
        out += std::to_string((foreground ? 90 : 100) + static_cast<int>(v) - 8);
    } else if (v < 256) {
        out += (foreground ? "38;5;" : "48;5;") + std::to_string(v);
    } else {
        out += (foreground ? "38;2;" : "48;2;") + std::to_string(v >> 16 & 0xFF) + ";" +
               std::to_string(v >> 8 & 0xFF) + ";" + std::to_string(v & 0xFF);
    }
    out += 'm';
}

// A row's line: each character once, followed by its marks, a second half
// adding nothing; trailing blanks cut whatever their colours; in colour, each
// change of either colour from the default start on, and a reset at the end
// of a line that ends in other colours.
HARNESS_ONLY void appendLine(std::string& out, const Row& row, bool colour) {
    std::size_t end = row.size();
    while (end > 0 && plainBlank(row[end - 1])) --end;
    CellAttr current;
    for (std::size_t c = 0; c < end; ++c) {
        const Cell& cell = row[c];
        if (cell.secondHalf) continue;
        if (colour && cell.attr.fg != current.fg) appendColour(out, true, cell.attr.fg);
        if (colour && cell.attr.bg != current.bg) appendColour(out, false, cell.attr.bg);
        current = cell.attr;
        appendCodePoint(out, cell.ch);
        for (char32_t mark : cell.marks) appendCodePoint(out, mark);
    }
    if (colour && current != CellAttr{}) out += "\x1b[0m";
    out += "\r\n";
}

// The Screen's row read as the model keeps one, for screens too tall for the
// model.
HARNESS_ONLY Row rowOf(const Screen& s, std::int32_t r) {
    Row row(static_cast<std::size_t>(s.cols()));
    const char32_t* chars = s.rowChars(r);
    for (std::int32_t c = 0; c < s.cols(); ++c) {
        Cell& cell = row[static_cast<std::size_t>(c)];
        cell.attr = inspect(s).cellAttr(r, c);
        cell.secondHalf = chars[c] == kWideContinuation;
        cell.ch = cell.secondHalf ? 0 : chars[c] & kCodePointMask;
    }
    for (const CellMarks& m : s.rowMarks(r)) row[static_cast<std::size_t>(m.col)].marks = m.marks;
    return row;
}

// A row that shows nothing, found from the Screen's cells alone.
HARNESS_ONLY bool showsNothing(const Screen& s, std::int32_t r) {
    if (s.rowIsBlank(r)) return true;
    const char32_t* text = s.rowChars(r);
    for (std::int32_t c = 0; c < s.cols(); ++c)
        if (text[c] != U' ') return false;
    return true;
}

// The file the rules give: BOM, then the lines of the rows from the first to
// the last occupied one; the model's rows when there is a model, else the
// Screen's own.
HARNESS_ONLY std::string expectedFile(const Screen& s, const vtsnap::model::Terminal* model, bool colour) {
    auto shows = [&](std::int32_t r) { return model != nullptr ? occupied(model->row(r)) : !showsNothing(s, r); };
    std::int32_t first = 0;
    while (first < s.rows() && !shows(first)) ++first;
    std::int32_t last = s.rows() - 1;
    while (last > first && !shows(last)) --last;
    std::string file(vtsnap::kByteOrderMark);
    for (std::int32_t r = first; r < s.rows() && r <= last; ++r) {
        if (model != nullptr)
            appendLine(file, model->row(r), colour);
        else
            appendLine(file, rowOf(s, r), colour);
    }
    return file;
}

// ---- The renders --------------------------------------------------------------------------

// The first line where two files differ, for the report.
HARNESS_ONLY std::size_t firstDifferentLine(std::string_view a, std::string_view b) {
    std::size_t line = 0;
    for (std::size_t i = 0; i < a.size() && i < b.size() && a[i] == b[i]; ++i) line += a[i] == '\n';
    return line;
}

// The colour file, played back into a fresh terminal of the same width, must
// give the same cells, colours and marks up to each row's trim point.
HARNESS_ONLY void checkColourPlayback(const Screen& s, const std::string& file) {
    std::int32_t first = 0;
    while (first < s.rows() && showsNothing(s, first)) ++first;
    if (first == s.rows()) {
        check(file == vtsnap::kByteOrderMark, "blank screen renders to more than the BOM");
        return;
    }
    std::int32_t last = s.rows() - 1;
    while (showsNothing(s, last)) --last;
    const std::int32_t height = last - first + 1;
    Screen replay(s.cols(), height + 1);  // one spare row for the last line end
    replay.feedBytes(reinterpret_cast<const std::uint8_t*>(file.data()) + 3, file.size() - 3);
    check(inspect(replay).parserState() == ParserState::Ground, "colour file ends inside a sequence");
    check(inspect(replay).cursorRow() == height && inspect(replay).cursorCol() == 0, "colour file has the wrong number of lines");
    for (std::int32_t i = 0; i < height; ++i) {
        const std::int32_t r = first + i;
        const char32_t* want = s.rowChars(r);
        const char32_t* got = replay.rowChars(i);
        std::int32_t end = s.cols();
        while (end > 0 && want[end - 1] == U' ') --end;
        for (std::int32_t c = 0; c < s.cols(); ++c) {
            if (c < end) {
                check(got[c] == want[c], "colour file plays back to other text");
                check(inspect(replay).cellAttr(i, c) == inspect(s).cellAttr(r, c), "colour file plays back to other colours");
            } else {
                check(got[c] == U' ' && inspect(replay).cellAttr(i, c) == CellAttr{}, "colour file writes past the trim point");
            }
        }
        check(sameMarks(s.rowMarks(r), replay.rowMarks(i)), "colour file plays back to other marks");
    }
}

// Both renders: every line valid text, and the whole file exactly what the
// rows give, the model's when there is one.
HARNESS_ONLY void checkRenders(const Screen& s, const vtsnap::model::Terminal* model) {
    for (const bool colour : {false, true}) {
        const std::string file = vtsnap::renderSnapshot(s, colour);
        check(file.compare(0, 3, vtsnap::kByteOrderMark) == 0, "file without BOM");
        checkLines(std::string_view(file).substr(3), colour);
        const std::string expected = expectedFile(s, model, colour);
        if (file != expected) {
            std::fprintf(stderr, "%s file differs from the rows' lines first in line %zu\n",
                         colour ? "colour" : "monochrome", firstDifferentLine(file, expected) + 1);
            fail("a render differs from the rows' lines");
        }
        if (colour) checkColourPlayback(s, file);
    }
}

// Rows leaving the top, as the transcript gets them: whole characters, marks
// with their bases, and lines of valid text.
class CheckingSink final : public vtsnap::RowSink {
public:
    HARNESS_ONLY void rowScrolledOff(const char32_t* chars, const CellAttr* attrs, std::span<const CellMarks> marks,
                                     std::int32_t cols) override {
        checkRowCells(chars, attrs, marks, cols);
        plain_.resize(static_cast<std::size_t>(cols));
        for (const bool colour : {false, true}) {
            line_.clear();
            vtsnap::renderRow(line_, chars, attrs != nullptr ? attrs : plain_.data(), marks, cols, colour);
            checkLines(line_, colour);
        }
    }

private:
    std::vector<CellAttr> plain_;
    std::string line_;
};

std::uint32_t nextRandom(std::uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

void feed(Screen& s, std::string_view bytes) {
    s.feedBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

// Leaves a blank screen whose ring is turned by 1 + `turn` rows (modulo the
// height) and whose rows still hold stale text, colours and marks under
// their lazy clearing: none may ever show after the full reset.
void turnRing(Screen& s, std::uint8_t turn) {
    std::string stream = "\x1b[41;33m";
    for (std::int32_t r = 0; r < s.rows(); ++r)
        stream += "\x1b[" + std::to_string(r + 1) + "Hst\xCC\x81\xE6\x97\xA5le\x1b[44m\x1b[K";
    stream += std::string(1 + turn % s.rows(), '\n');
    stream += "\x1b[4;1H\x1b[42m\x1b[J\x1b[2;3r\x1b[S\x1b[1P\x1b" "c";
    feed(s, stream);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size < 4) return 0;
    const Shape shape = pickShape(data[0], data[1]);
    const std::uint8_t turn = data[2];
    const std::uint8_t chunkSeed = data[3];
    const std::uint8_t* stream = data + 4;
    const std::size_t length = size - 4;

    // Screen A gets the stream in random blocks, as the reader thread would,
    // and hands the rows that leave it to a sink, as to the transcript (not
    // on the tallest screens, where a scroll can push out thousands of rows).
    Screen a(shape.cols, shape.rows);
    CheckingSink sink;
    if (a.rows() < 1000) a.setRowSink(&sink);
    checkInvariants(a, shape, true);
    const bool smallGrid = static_cast<std::int64_t>(a.rows()) * a.cols() <= 4096;
    static constexpr std::uint32_t kMaxChunk[] = {1, 2, 3, 7, 64, 4096};
    const std::uint32_t maxChunk = kMaxChunk[chunkSeed % 6];
    std::uint32_t random = 0x9E3779B9u ^ chunkSeed;
    // A snapshot between two blocks, as the main thread takes them.
    const std::size_t snapshotAfter = a.rows() < 1000 ? chunkSeed >> 3 : SIZE_MAX;
    // The model is slow on purpose; screens up to 120 x 160 or so.
    std::optional<vtsnap::model::Terminal> model;
    if (static_cast<std::int64_t>(a.rows()) * a.cols() <= 20000) model.emplace(shape.cols, shape.rows);
    auto checkModel = [&] {
        const std::string difference = model->differences(a);
        if (!difference.empty()) {
            std::fprintf(stderr, "the Screen and the model differ in the %s\n", difference.c_str());
            fail("the Screen does not follow the rules");
        }
    };
    const vtsnap::model::Terminal* rules = model ? &*model : nullptr;
    std::size_t offset = 0;
    for (std::size_t block = 0; offset < length; ++block) {
        std::size_t n = nextRandom(random) % (maxChunk + 1);  // 0 changes nothing
        if (n > length - offset) n = length - offset;
        a.feedBytes(stream + offset, n);
        if (model) model->feed(stream + offset, n);
        offset += n;
        checkInvariants(a, shape, smallGrid || block == snapshotAfter);
        if (model && (smallGrid || block == snapshotAfter)) checkModel();
        if (block == snapshotAfter) checkRenders(a, rules);
    }

    checkInvariants(a, shape, true);
    if (model) checkModel();

    // Screen B starts blank with its ring turned and stale rows, and gets the
    // stream in one block. Not for the tallest screens, whose building alone
    // costs more than all the rest.
    if (a.rows() < 1000) {
        Screen b(shape.cols, shape.rows);
        turnRing(b, turn);
        b.feedBytes(stream, length);
        checkInvariants(b, shape, true);
        checkSameState(a, b);
    }

    checkRenders(a, rules);
    return 0;
}
