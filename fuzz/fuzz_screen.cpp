// Arbitrary child output on screens of any shape, in any chunking: the Screen
// must stay consistent after every block, agree with a plain model of the same
// rules, not depend on where the blocks were cut, where the row ring starts
// or what lazily cleared rows still hold, and both renders must have the
// structure of the output file, with no control character a program could
// have put there.
//
// Input layout: byte 0 picks the screen shape, byte 1 sizes it, byte 2 turns
// the twin screen's ring, byte 3 seeds the chunking; the rest is the child's
// output.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/screen_model.hpp"
#include "snapshot/render.hpp"
#include "terminal/screen.hpp"
#include "tests/screen_access.hpp"

using vtsnap::CellAttr;
using vtsnap::ColorValue;
using vtsnap::ParserState;
using vtsnap::Screen;
using vtsnap::test::inspect;

namespace {

// The checks walk whole grids; tracing their comparisons would only slow the
// fuzzer down without guiding it anywhere.
#define HARNESS_ONLY __attribute__((no_sanitize("coverage")))

[[noreturn]] void fail(const char* what) {
    std::fprintf(stderr, "invariant broken: %s\n", what);
    std::abort();
}

void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

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
bool validColor(ColorValue c) {
    return c == vtsnap::kDefaultColor || c <= 255 || (c & 0xFF000000u) == vtsnap::kDirectColorFlag;
}

// No cell may hold a control character, C0, DEL or C1: the file would carry it.
bool printable(char16_t u) { return u >= 0x20 && !(u >= 0x7F && u <= 0x9F); }

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
        const char16_t* text = s.rowChars(r);
        const CellAttr* attrs = s.rowAttrs(r);
        if (s.rowIsBlank(r)) {
            // Blank rows read as spaces in default colours, whatever colour
            // they were blanked in; that colour's foreground is the default.
            for (std::int32_t c = 0; c < cols; ++c)
                check(text[c] == u' ' && attrs[c] == CellAttr{}, "a blank row reads as more than spaces");
            const CellAttr fill = inspect(s).cellAttr(r, 0);
            check(fill.fg == vtsnap::kDefaultColor && validColor(fill.bg), "a blank row's colours");
            continue;
        }
        // The renderer does not look below usedRows().
        check(r < s.usedRows(), "a row below usedRows() is not blank");
        for (std::int32_t c = 0; c < cols; ++c) {
            check(validColor(attrs[c].fg) && validColor(attrs[c].bg), "cell colour not a colour");
            check(printable(text[c]), "a control character in a cell");
        }
    }
}

HARNESS_ONLY void checkSameState(const Screen& a, const Screen& b) {
    check(a.rows() == b.rows() && a.cols() == b.cols(), "twin dimensions differ");
    for (std::int32_t r = 0; r < a.rows(); ++r) {
        const char16_t* ca = a.rowChars(r);
        const char16_t* cb = b.rowChars(r);
        for (std::int32_t c = 0; c < a.cols(); ++c) {
            check(ca[c] == cb[c], "cell text depends on chunking, ring origin or stale rows");
            check(inspect(a).cellAttr(r, c) == inspect(b).cellAttr(r, c), "cell colours depend on chunking, ring origin or stale rows");
        }
    }
    check(inspect(a).currentAttr() == inspect(b).currentAttr(), "currentAttr differs");
    check(inspect(a).cursorRow() == inspect(b).cursorRow() && inspect(a).cursorCol() == inspect(b).cursorCol(), "cursor differs");
    check(inspect(a).scrollTop() == inspect(b).scrollTop() && inspect(a).scrollBottom() == inspect(b).scrollBottom(), "scroll region differs");
    check(inspect(a).wrapPending() == inspect(b).wrapPending(), "wrapPending differs");
    check(inspect(a).parserState() == inspect(b).parserState(), "decoder state differs");
}
// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
HARNESS_ONLY bool validUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t more;
        std::uint32_t v;
        if (b < 0x80) { ++i; continue; }
        if (b >= 0xC2 && b <= 0xDF) { more = 1; v = b & 0x1Fu; }
        else if (b >= 0xE0 && b <= 0xEF) { more = 2; v = b & 0x0Fu; }
        else if (b >= 0xF0 && b <= 0xF4) { more = 3; v = b & 0x07u; }
        else return false;
        if (i + more >= s.size()) return false;
        for (std::size_t k = 1; k <= more; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            v = (v << 6) | (c & 0x3Fu);
        }
        if ((more == 2 && v < 0x800) || (more == 3 && v < 0x10000)) return false;
        if (v >= 0xD800 && v <= 0xDFFF) return false;
        if (v > 0x10FFFF) return false;
        i += 1 + more;
    }
    return true;
}

// Whoever runs `cat` on the file must get text: the only controls are the
// line ends and, in colour mode, the ESC of each colour sequence. (The file
// is valid UTF-8 by then, so C1 controls can only be C2 80 to C2 9F.)
HARNESS_ONLY void checkNoControls(std::string_view file, bool colour) {
    for (std::size_t i = 0; i < file.size(); ++i) {
        const auto b = static_cast<unsigned char>(file[i]);
        if (b == '\r') {
            check(i + 1 < file.size() && file[i + 1] == '\n', "CR without LF in the file");
        } else if (b == '\n') {
            check(i > 0 && file[i - 1] == '\r', "LF without CR in the file");
        } else if (b == 0x1B) {
            check(colour, "ESC in a monochrome file");
            check(i + 1 < file.size() && file[i + 1] == '[', "ESC in the file that starts no colour sequence");
        } else {
            check(b >= 0x20 && b != 0x7F, "a C0 control or DEL in the file");
            check(!(b == 0xC2 && i + 1 < file.size() && static_cast<unsigned char>(file[i + 1]) <= 0x9F),
                  "a C1 control in the file");
        }
    }
}

void appendCodePoint(std::string& out, std::uint32_t v) {
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

bool isBlank(char16_t u) { return u == u' ' || u == u'\t'; }

HARNESS_ONLY std::int32_t trimmedLength(const Screen& s, std::int32_t r) {
    const char16_t* text = s.rowChars(r);
    std::int32_t end = s.cols();
    while (end > 0 && isBlank(text[end - 1])) --end;
    return end;
}

constexpr std::uint32_t kPairTail = 0xFFFFFFFFu;

// What each cell of a row up to `end` stands for in the file: surrogate pairs
// within one colour run join (the second cell then stands for nothing), any
// other surrogate half reads as U+FFFD.
HARNESS_ONLY std::vector<std::uint32_t> cellCodePoints(const Screen& s, std::int32_t r, std::int32_t end) {
    const char16_t* text = s.rowChars(r);
    std::vector<std::uint32_t> out;
    for (std::int32_t c = 0; c < end; ++c) {
        const char16_t u = text[c];
        if (u >= 0xD800 && u <= 0xDBFF && c + 1 < end && inspect(s).cellAttr(r, c + 1) == inspect(s).cellAttr(r, c) &&
            text[c + 1] >= 0xDC00 && text[c + 1] <= 0xDFFF) {
            out.push_back(0x10000 + ((u - 0xD800u) << 10) + (text[c + 1] - 0xDC00u));
            out.push_back(kPairTail);
            ++c;
        } else if (u >= 0xD800 && u <= 0xDFFF) {
            out.push_back(0xFFFD);
        } else {
            out.push_back(u);
        }
    }
    return out;
}

struct RowRange {
    std::int32_t first = -1;
    std::int32_t last = -1;
};

// Found from the text of every row, without the grid's own bookkeeping.
HARNESS_ONLY RowRange occupiedRows(const Screen& s) {
    RowRange range;
    for (std::int32_t r = 0; r < s.rows(); ++r) {
        const char16_t* text = s.rowChars(r);
        for (std::int32_t c = 0; c < s.cols(); ++c) {
            if (text[c] != u' ') {
                if (range.first < 0) range.first = r;
                range.last = r;
                break;
            }
        }
    }
    return range;
}

// Monochrome: BOM, then each row from the first to the last occupied one as
// its trimmed text and CR LF.
HARNESS_ONLY void checkMonochrome(const Screen& s, const std::string& file, RowRange range) {
    std::string expected = "\xEF\xBB\xBF";
    if (range.first >= 0) {
        for (std::int32_t r = range.first; r <= range.last; ++r) {
            for (std::uint32_t v : cellCodePoints(s, r, trimmedLength(s, r)))
                if (v != kPairTail) appendCodePoint(expected, v);
            expected += "\r\n";
        }
    }
    check(file == expected, "monochrome file differs from the screen's text");
}

// Colour: the file, played back into a fresh terminal of the same width,
// must give the same text and colours up to each row's trim point.
HARNESS_ONLY void checkColourPlayback(const Screen& s, const std::string& file, RowRange range) {
    const std::int32_t height = range.last - range.first + 1;
    Screen replay(s.cols(), height + 1);  // one spare row for the last line end
    replay.feedBytes(reinterpret_cast<const std::uint8_t*>(file.data()) + 3, file.size() - 3);
    check(inspect(replay).parserState() == ParserState::Ground, "colour file ends inside a sequence");
    check(inspect(replay).cursorRow() == height && inspect(replay).cursorCol() == 0, "colour file has the wrong number of lines");
    for (std::int32_t i = 0; i < height; ++i) {
        const std::int32_t r = range.first + i;
        const std::int32_t end = trimmedLength(s, r);
        const auto points = cellCodePoints(s, r, end);
        const char16_t* want = s.rowChars(r);
        const char16_t* got = replay.rowChars(i);
        for (std::int32_t c = 0; c < s.cols(); ++c) {
            if (c < end) {
                // Joined pairs come back as the same two halves; a lone half
                // comes back as U+FFFD.
                const std::uint32_t v = points[static_cast<std::size_t>(c)];
                const char16_t expectedUnit = v > 0xFFFF ? want[c] : static_cast<char16_t>(v);
                check(got[c] == expectedUnit, "colour file plays back to other text");
                check(inspect(replay).cellAttr(i, c) == inspect(s).cellAttr(r, c), "colour file plays back to other colours");
            } else {
                check(got[c] == u' ' && inspect(replay).cellAttr(i, c) == CellAttr{}, "colour file writes past the trim point");
            }
        }
    }
}

HARNESS_ONLY void checkColour(const Screen& s, const std::string& file, RowRange range) {
    check(file.compare(0, 3, "\xEF\xBB\xBF") == 0, "colour file without BOM");
    if (range.first < 0) {
        check(file.size() == 3, "blank screen renders to more than the BOM");
        return;
    }
    check(file.size() >= 5 && file.compare(file.size() - 2, 2, "\r\n") == 0, "colour file not ended by CR LF");
    checkColourPlayback(s, file, range);
}

void checkRenders(const Screen& s) {
    const RowRange range = occupiedRows(s);
    const std::string mono = vtsnap::renderSnapshot(s, false);
    const std::string colour = vtsnap::renderSnapshot(s, true);
    check(validUtf8(mono), "monochrome file is not valid UTF-8");
    check(validUtf8(colour), "colour file is not valid UTF-8");
    checkNoControls(mono, false);
    checkNoControls(colour, true);
    checkMonochrome(s, mono, range);
    checkColour(s, colour, range);
}

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
// height) and whose rows still hold stale text and colours under their lazy
// clearing: neither may ever show after the full reset.
void turnRing(Screen& s, std::uint8_t turn) {
    std::string stream = "\x1b[41;33m";
    for (std::int32_t r = 0; r < s.rows(); ++r) stream += "\x1b[" + std::to_string(r + 1) + "Hstale\x1b[44m\x1b[K";
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

    // Screen A gets the stream in random blocks, as the reader thread would.
    Screen a(shape.cols, shape.rows);
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
    std::size_t offset = 0;
    for (std::size_t block = 0; offset < length; ++block) {
        std::size_t n = nextRandom(random) % (maxChunk + 1);  // 0 changes nothing
        if (n > length - offset) n = length - offset;
        a.feedBytes(stream + offset, n);
        if (model) model->feed(stream + offset, n);
        offset += n;
        checkInvariants(a, shape, smallGrid || block == snapshotAfter);
        if (model && (smallGrid || block == snapshotAfter)) checkModel();
        if (block == snapshotAfter) checkRenders(a);
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

    checkRenders(a);
    return 0;
}
