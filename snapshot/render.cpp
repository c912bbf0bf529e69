#include "snapshot/render.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vtsnap {

namespace {

constexpr std::size_t kInitialReserve = 8192;

// Every colour value below 256 as its sequence, foreground then background,
// and the default colour after them: the basic and bright colours as
// ESC [ 3x, 9x, 4x and 10x m, the rest of the palette as ESC [ 38 ; 5 ; n m.
// Sixteen bytes an entry, copied in one move whatever its length.
struct Sequence {
    char bytes[15];
    std::uint8_t length;
};

constexpr std::size_t kDefaultEntry = 256;

constexpr Sequence colorSequence(bool foreground, std::size_t n) {
    Sequence s{{'\x1b', '['}, 0};
    std::size_t i = 2;
    auto digit = [&](std::size_t d) { s.bytes[i++] = static_cast<char>('0' + d); };
    if (n == kDefaultEntry) {
        digit(foreground ? 3 : 4);
        digit(9);
    } else if (n < 16) {
        if (n >= 8 && !foreground) digit(1);
        s.bytes[i++] = n < 8 ? (foreground ? '3' : '4') : (foreground ? '9' : '0');
        digit(n % 8);
    } else {
        digit(foreground ? 3 : 4);
        for (const char c : {'8', ';', '5', ';'}) s.bytes[i++] = c;
        if (n >= 100) digit(n / 100);
        if (n >= 10) digit(n / 10 % 10);
        digit(n % 10);
    }
    s.bytes[i++] = 'm';
    s.length = static_cast<std::uint8_t>(i);
    return s;
}

constexpr auto kColorSequences = [] {
    std::array<std::array<Sequence, kDefaultEntry + 1>, 2> table{};
    for (std::size_t n = 0; n <= kDefaultEntry; ++n) {
        table[0][n] = colorSequence(true, n);
        table[1][n] = colorSequence(false, n);
    }
    return table;
}();

// 0 to 255 in decimal and a ';' after, four bytes an entry.
struct Decimal {
    char bytes[4];
    std::uint32_t length;
};

constexpr auto kDecimals = [] {
    std::array<Decimal, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        Decimal& d = table[n];
        if (n >= 100) d.bytes[d.length++] = static_cast<char>('0' + n / 100);
        if (n >= 10) d.bytes[d.length++] = static_cast<char>('0' + n / 10 % 10);
        d.bytes[d.length++] = static_cast<char>('0' + n % 10);
        d.bytes[d.length++] = ';';
    }
    return table;
}();

// The longest colour sequence: ESC [ 3 8 ; 2 ; 2 5 5 ; 2 5 5 ; 2 5 5 m.
constexpr std::size_t kLongestColor = 19;
// What the moves below may write past the end of what they mean to: where a
// line is measured for them, it has this much more room.
constexpr std::size_t kOverwrite = 16;

char* put(char* p, std::string_view text) {
    std::memcpy(p, text.data(), text.size());
    return p + text.size();
}

// A foreground or background colour as its SGR sequence, at p, which has
// kOverwrite bytes of room past it.
char* putColor(char* p, bool foreground, ColorValue n) {
    const auto& sequences = kColorSequences[foreground ? 0 : 1];
    if (!isDirectColor(n)) {
        const Sequence& s = sequences[n == kDefaultColor ? kDefaultEntry : n & 0xFF];
        std::memcpy(p, &s, sizeof s);
        return p + s.length;
    }
    p = put(p, foreground ? "\x1b[38;2;" : "\x1b[48;2;");
    for (const std::uint32_t part : {(n >> 16) & 0xFF, (n >> 8) & 0xFF, n & 0xFF}) {
        std::memcpy(p, kDecimals[part].bytes, 4);
        p += kDecimals[part].length;
    }
    p[-1] = 'm';  // in place of the last ';'
    return p;
}

bool rowOccupied(const char32_t* text, std::int32_t cols) {
    return std::any_of(text, text + cols, [](char32_t c) { return c != U' '; });
}

}  // namespace

void appendAscii(std::string& out, std::string_view text) { out.append(text); }

void appendDecimal(std::string& out, std::uint32_t value) {
    char digits[10];
    std::size_t start = sizeof digits;
    do {
        digits[--start] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    out.append(digits + start, sizeof digits - start);
}

namespace {

// Writes one character as UTF-8 at p, which has room for four bytes, and
// returns the end. All four are written, in arithmetic on the length rather
// than branches, which mixed text would mispredict often; the bytes past the
// length are overwritten or cut off. A continuation cell writes nothing.
inline unsigned char* putChar(unsigned char* p, char32_t cell) {
    const std::uint32_t v = cell & kCodePointMask;
    const std::uint32_t extra = (v >= 0x80) + (v >= 0x800) + (v >= 0x10000);  // continuation bytes
    constexpr unsigned char kLead[4] = {0x00, 0xC0, 0xE0, 0xF0};
    const std::uint64_t u = std::uint64_t{v} << 18;  // so that no shift below is negative
    p[0] = static_cast<unsigned char>(kLead[extra] | (v >> (6 * extra)));
    p[1] = static_cast<unsigned char>(0x80 | ((u >> (12 + 6 * extra)) & 0x3F));
    p[2] = static_cast<unsigned char>(0x80 | ((u >> (6 + 6 * extra)) & 0x3F));
    p[3] = static_cast<unsigned char>(0x80 | ((u >> (6 * extra)) & 0x3F));
    return p + (1 + extra) * (v != kWideContinuation);
}

}  // namespace

void appendUtf8(std::string& out, char32_t c) {
    unsigned char bytes[4];
    const unsigned char* end = putChar(bytes, c);
    out.append(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(end - bytes));
}

namespace {

// Or-ed over a run of cells, below 0x80 when every cell is ASCII written as
// its own byte: a continuation cell (0) wraps round to fail, like a character
// beyond ASCII or one with marks.
constexpr char32_t asciiTest(char32_t cell) { return cell | (cell - 1); }

}  // namespace

bool narrowAscii(char* out, const char32_t* cells, std::size_t count) {
    std::size_t i = 0;
    char32_t any = 0;
#if defined(__SSE2__)
    // Sixteen cells a step, packed to bytes (the packing saturates what is
    // not ASCII, and the test fails the row then anyway); the last step
    // overlaps the one before.
    const __m128i one = _mm_set1_epi32(1);
    __m128i tested = _mm_setzero_si128();
    auto step = [&](std::size_t at) {
        __m128i v[4];
        for (int k = 0; k < 4; ++k) {
            v[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(cells + at) + k);
            tested = _mm_or_si128(tested, _mm_or_si128(v[k], _mm_sub_epi32(v[k], one)));
        }
        const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(v[0], v[1]), _mm_packs_epi32(v[2], v[3]));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + at), bytes);
    };
    for (; i + 16 <= count; i += 16) step(i);
    if (i < count && count >= 16) {
        step(count - 16);
        i = count;
    }
    const __m128i beyond = _mm_and_si128(tested, _mm_set1_epi32(~0x7F));
    if (_mm_movemask_epi8(_mm_cmpeq_epi32(beyond, _mm_setzero_si128())) != 0xFFFF) return false;
#endif
    for (; i < count; ++i) {
        any |= asciiTest(cells[i]);
        out[i] = static_cast<char>(cells[i]);
    }
    return any < 0x80;
}

namespace {

// The room the marks of a row's cells take, at most.
std::size_t marksRoom(std::span<const CellMarks> marks) {
    std::size_t room = 0;
    for (const CellMarks& m : marks) room += 4 * m.marks.size();
    return room;
}

// Writes cells col to col + count - 1 of the row as UTF-8 at out, which has
// room for four bytes a cell and the marks, and returns the end.
char* putUtf8(char* out, const char32_t* cells, std::int32_t col, std::int32_t count, MarksCursor& marks) {
    auto* p = reinterpret_cast<unsigned char*>(out);
    for (std::int32_t i = col; i < col + count; ++i) {
        p = putChar(p, cells[i]);
        if (cells[i] & kHasMarks) [[unlikely]]
            for (char32_t mark : marks.take(i)) p = putChar(p, mark);
    }
    return reinterpret_cast<char*>(p);
}

// A run of one colour, most often plain ASCII: narrowed in one pass that also
// tells, and written again as UTF-8 otherwise.
char* putRun(char* out, const char32_t* cells, CellRun run, MarksCursor& marks) {
    return narrowAscii(out, cells + run.col, static_cast<std::size_t>(run.width))
               ? out + run.width
               : putUtf8(out, cells, run.col, run.width, marks);
}

// The length of `text` without its trailing spaces and TABs. Rows end in long
// runs of spaces, skipped eight at a time; the last word that is not all
// spaces tells where its last other byte is.
std::size_t trimmedLength(const char* text, std::size_t length) {
    constexpr std::uint64_t kSpaces = 0x2020202020202020ull;
    std::size_t end = length;
    if constexpr (std::endian::native == std::endian::little) {
        while (end >= 8) {
            std::uint64_t word;
            std::memcpy(&word, text + end - 8, 8);
            const std::uint64_t others = word ^ kSpaces;  // zero bytes are spaces
            if (others != 0) {
                // The highest byte that is not a space is the last in the text.
                end -= static_cast<std::size_t>(std::countl_zero(others)) / 8;
                break;
            }
            end -= 8;
        }
    }
    while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
    return end;
}

}  // namespace

std::size_t renderAsciiRow(char* out, const char32_t* text, std::int32_t cols) {
    const auto count = static_cast<std::size_t>(cols);
    if (!narrowAscii(out, text, count)) return 0;
    const std::size_t length = trimmedLength(out, count);
    out[length] = '\r';
    out[length + 1] = '\n';
    return length + 2;
}

namespace {

bool appendAsciiRow(std::string& out, const char32_t* text, std::int32_t cols) {
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(cols) + 2);
    const std::size_t length = renderAsciiRow(out.data() + start, text, cols);
    out.resize(start + length);
    return length != 0;
}

}  // namespace

void renderRow(std::string& out, const char32_t* chars, const CellAttr* attrs, std::span<const CellMarks> marks,
               std::int32_t cols, bool useColor) {
    renderRow(out, RowView(chars, attrs, marks, cols), useColor);
}

namespace {

// Rows up to this wide take the coloured fast path.
constexpr std::int32_t kFastColumns = 256;

// A cell's two colours as one word, so that a change of either is one test.
std::uint64_t colourBits(const CellAttr& attr) {
    std::uint64_t bits;
    static_assert(sizeof attr == sizeof bits);
    std::memcpy(&bits, &attr, sizeof bits);
    return bits;
}

// Sets bit c of `starts` where a run of one colour starts in cells 0 to
// end - 1: cell 0 and each cell whose colours differ from the one before's.
void runStarts(const CellAttr* attr, std::int32_t end, std::uint64_t* starts) {
    if (end <= 0) return;
    std::uint64_t before = colourBits(attr[0]);
    std::uint64_t word = 1;
    std::int32_t c = 1;
#if defined(__SSE2__)
    // Four cells a step, each against the one before, from cell 4 on: the
    // colours' equal halves as eight bits, four cells' changes in one load.
    constexpr auto kChanged = [] {
        std::array<std::uint8_t, 256> table{};
        for (std::size_t halves = 0; halves < 256; ++halves)
            for (std::size_t cell = 0; cell < 4; ++cell)
                if (((halves >> (2 * cell)) & 3) != 3) table[halves] |= static_cast<std::uint8_t>(1u << cell);
        return table;
    }();
    for (; c < std::min(end, 4); ++c) {
        const std::uint64_t now = colourBits(attr[c]);
        word |= std::uint64_t{now != before} << c;
        before = now;
    }
    for (; c + 4 <= end; c += 4) {
        if (c % 64 == 0) {
            starts[c / 64 - 1] = word;
            word = 0;
        }
        const auto* at = reinterpret_cast<const __m128i*>(attr + c);
        const auto* previous = reinterpret_cast<const __m128i*>(attr + c - 1);
        const int low = _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(_mm_loadu_si128(at), _mm_loadu_si128(previous))));
        const int high =
            _mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(_mm_loadu_si128(at + 1), _mm_loadu_si128(previous + 1))));
        word |= std::uint64_t{kChanged[static_cast<std::size_t>(low | high << 4)]} << (c % 64);
    }
    if (c < end) before = colourBits(attr[c - 1]);
#endif
    for (; c < end; ++c) {
        if (c % 64 == 0) {
            starts[c / 64 - 1] = word;
            word = 0;
        }
        const std::uint64_t now = colourBits(attr[c]);
        word |= std::uint64_t{now != before} << (c % 64);
        before = now;
    }
    starts[(end - 1) / 64] = word;
}

// Set bits, without the processor's own count, which baseline x86-64 lacks.
std::size_t bitCount(std::uint64_t word) {
    std::size_t count = 0;
    for (; word != 0; word &= word - 1) ++count;
    return count;
}

// Copies `count` bytes in moves of kOverwrite, writing and reading up to
// kOverwrite bytes past them. (Moves through a register: GCC turns a loop of
// memcpy into `rep movs`, whose start costs more than a short run.)
char* putBytes(char* p, const char* from, std::int32_t count) {
    static_assert(kOverwrite == 16);
    std::int32_t i = 0;
    do {
#if defined(__SSE2__)
        _mm_storeu_si128(reinterpret_cast<__m128i*>(p + i), _mm_loadu_si128(reinterpret_cast<const __m128i*>(from + i)));
#else
        std::memcpy(p + i, from + i, kOverwrite);
#endif
        i += static_cast<std::int32_t>(kOverwrite);
    } while (i < count);
    return p + count;
}

// A coloured row: where runs of one colour start found in one pass without a
// branch a cell (bit c of `starts`). A row whose cells are all ASCII, as most
// are, is narrowed once and each run's text copied in fixed-size moves; any
// other writes each run as putRun does. False, having written nothing, for a
// row too wide for the masks.
bool appendColouredRow(std::string& out, const RowView& row) {
    const std::int32_t cols = row.cols();
    if (cols > kFastColumns) return false;
    const char32_t* cells = row.chars();
    char text[kFastColumns + kOverwrite];
    const bool ascii = narrowAscii(text, cells, static_cast<std::size_t>(cols));
    std::memset(text + cols, 0, kOverwrite);  // what the last move reads past the row
    // Trailing spaces and TABs go, whatever their colours.
    const std::int32_t end =
        ascii ? static_cast<std::int32_t>(trimmedLength(text, static_cast<std::size_t>(cols))) : row.textEnd();

    const CellAttr* attr = row.attrs();
    std::uint64_t starts[kFastColumns / 64] = {};
    runStarts(attr, end, starts);
    std::size_t runs = 0;
    for (const std::uint64_t word : starts) runs += bitCount(word);

    // Room for two colour sequences a run, the text (four bytes a cell and
    // the marks beyond ASCII), the closing reset, the line end and what the
    // moves write past them.
    const std::span<const CellMarks> marks = row.marks();
    const auto length = static_cast<std::size_t>(end);
    const std::size_t start = out.size();
    out.resize(start + runs * 2 * kLongestColor + (ascii ? length : 4 * length + marksRoom(marks)) + 6 + kOverwrite);
    char* p = out.data() + start;
    MarksCursor nextMarks(marks);
    auto putText = [&](std::int32_t from, std::int32_t to) {
        p = ascii ? putBytes(p, text + from, to - from) : putRun(p, cells, {from, to - from, {}}, nextMarks);
    };
    CellAttr previous;
    std::int32_t from = 0;  // the first cell not yet written
    for (std::int32_t word = 0; word < kFastColumns / 64; ++word) {
        for (std::uint64_t bits = starts[word]; bits != 0; bits &= bits - 1) {
            const std::int32_t c = word * 64 + std::countr_zero(bits);
            putText(from, c);
            from = c;
            const CellAttr now = attr[c];
            if (now.fg != previous.fg) p = putColor(p, true, now.fg);
            if (now.bg != previous.bg) p = putColor(p, false, now.bg);
            previous = now;
        }
    }
    putText(from, end);
    if (previous != CellAttr{}) p = put(p, "\x1b[0m");
    p = put(p, "\r\n");
    out.resize(static_cast<std::size_t>(p - out.data()));
    return true;
}

}  // namespace

void renderRow(std::string& out, const RowView& row, bool useColor) {
    const char32_t* text = row.chars();
    if (!useColor && appendAsciiRow(out, text, row.cols())) return;
    if (useColor && appendColouredRow(out, row)) return;

    // Trailing spaces and TABs go, whatever their colours.
    const std::int32_t end = row.textEnd();

    const auto length = static_cast<std::size_t>(end);
    const std::size_t start = out.size();
    const std::span<const CellMarks> marks = row.marks();
    MarksCursor nextMarks(marks);
    if (!useColor) {
        out.resize(start + 4 * length + marksRoom(marks) + 2);
        char* p = putUtf8(out.data() + start, text, 0, end, nextMarks);
        p = put(p, "\r\n");
        out.resize(static_cast<std::size_t>(p - out.data()));
        return;
    }

    // A row too wide for the masks. Room for the whole line, measured first:
    // two colour sequences a run, four bytes a cell, the marks, the closing
    // reset and the line end. The line is then written without a check per
    // piece.
    const CellAttr* attr = row.attrs();
    std::size_t runs = 0;
    for (std::int32_t c = 0; c < end; ++c) runs += c == 0 || attr[c] != attr[c - 1];
    out.resize(start + runs * 2 * kLongestColor + 4 * length + marksRoom(marks) + 6 + kOverwrite);
    char* p = out.data() + start;
    CellAttr previous;
    for (std::int32_t c = 0; c < end;) {
        const CellRun run = row.runAt(c, end);
        if (run.attr.fg != previous.fg) p = putColor(p, true, run.attr.fg);
        if (run.attr.bg != previous.bg) p = putColor(p, false, run.attr.bg);
        p = putRun(p, text, run, nextMarks);
        previous = run.attr;
        c += run.width;
    }
    if (previous != CellAttr{}) p = put(p, "\x1b[0m");
    p = put(p, "\r\n");
    out.resize(static_cast<std::size_t>(p - out.data()));
}

RowSpan occupiedRows(const Screen& screen) {
    const std::int32_t cols = screen.cols();
    // Rows from usedRows() down are blank: no need to look at them.
    const std::int32_t rows = screen.usedRows();
    auto occupied = [&](std::int32_t r) { return !screen.rowIsBlank(r) && rowOccupied(screen.rowChars(r), cols); };
    std::int32_t first = 0;
    while (first < rows && !occupied(first)) ++first;
    if (first == rows) return {};
    std::int32_t last = rows - 1;
    while (last > first && !occupied(last)) --last;
    return {first, last};
}

void renderRows(std::string& out, const Screen& screen, bool useColor) {
    const std::int32_t cols = screen.cols();
    const auto [first, last] = occupiedRows(screen);
    if (first > last) return;
    // Room for full rows of ASCII up front saves regrowing a large screen's
    // buffer several times over.
    out.reserve(out.size() + std::size_t(last - first + 1) * std::size_t(cols + 2));
    for (std::int32_t r = first; r <= last; ++r)
        renderRow(out, screen.row(r), useColor);
}

std::string renderSnapshot(const Screen& screen, bool useColor) {
    std::string out;
    out.reserve(kInitialReserve);
    appendAscii(out, kByteOrderMark);
    renderRows(out, screen, useColor);
    return out;
}

}  // namespace vtsnap
