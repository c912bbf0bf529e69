#include "snapshot/render.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace vtsnap {

namespace {

constexpr std::size_t kInitialReserve = 8192;

// The sixteen basic and bright colours, foreground then background, each in
// eight bytes so that it is copied in one move whatever its length.
struct Sequence {
    char bytes[8];
    std::size_t length;
};

constexpr Sequence basicColor(bool foreground, int n) {
    Sequence s{{'\x1b', '['}, 0};
    std::size_t i = 2;
    if (n >= 8 && !foreground) s.bytes[i++] = '1';
    s.bytes[i++] = n < 8 ? (foreground ? '3' : '4') : (foreground ? '9' : '0');
    s.bytes[i++] = static_cast<char>('0' + n % 8);
    s.bytes[i++] = 'm';
    s.length = i;
    return s;
}

constexpr auto kBasicColors = [] {
    std::array<std::array<Sequence, 16>, 2> table{};
    for (int n = 0; n < 16; ++n) {
        table[0][static_cast<std::size_t>(n)] = basicColor(true, n);
        table[1][static_cast<std::size_t>(n)] = basicColor(false, n);
    }
    return table;
}();

// The longest colour sequence: ESC [ 3 8 ; 2 ; 2 5 5 ; 2 5 5 ; 2 5 5 m.
constexpr std::size_t kLongestColor = 19;

char* put(char* p, std::string_view text) {
    std::memcpy(p, text.data(), text.size());
    return p + text.size();
}

// 0 to 255.
char* putByteValue(char* p, std::uint32_t value) {
    if (value >= 100) *p++ = static_cast<char>('0' + value / 100);
    if (value >= 10) *p++ = static_cast<char>('0' + value / 10 % 10);
    *p++ = static_cast<char>('0' + value % 10);
    return p;
}

// A foreground or background colour as its SGR sequence, at p.
char* putColor(char* p, bool foreground, ColorValue n) {
    if (n == kDefaultColor) return put(p, foreground ? "\x1b[39m" : "\x1b[49m");
    if (n < 16) {
        const Sequence& basic = kBasicColors[foreground ? 0 : 1][n];
        std::memcpy(p, basic.bytes, sizeof basic.bytes);  // room for the longest
        return p + basic.length;
    }
    p = put(p, foreground ? "\x1b[38;" : "\x1b[48;");
    if (isDirectColor(n)) {
        const Rgb rgb = rgbOf(n);
        p = put(p, "2;");
        p = putByteValue(p, rgb.r);
        *p++ = ';';
        p = putByteValue(p, rgb.g);
        *p++ = ';';
        p = putByteValue(p, rgb.b);
    } else {
        p = put(p, "5;");
        p = putByteValue(p, n);
    }
    *p++ = 'm';
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
    const char32_t* first = cells + run.col;
    char32_t any = 0;
    for (std::int32_t i = 0; i < run.width; ++i) {
        any |= asciiTest(first[i]);
        out[i] = static_cast<char>(first[i]);
    }
    return any < 0x80 ? out + run.width : putUtf8(out, cells, run.col, run.width, marks);
}

}  // namespace

namespace {

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
    // Narrowed in one pass that also tells whether every cell was ASCII.
    const auto count = static_cast<std::size_t>(cols);
    char32_t any = 0;
    for (std::size_t i = 0; i < count; ++i) {
        any |= asciiTest(text[i]);
        out[i] = static_cast<char>(text[i]);
    }
    if (any >= 0x80) return 0;
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

void renderRow(std::string& out, const RowView& row, bool useColor) {
    const char32_t* text = row.chars();
    if (!useColor && appendAsciiRow(out, text, row.cols())) return;

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

    // Room for the whole line, measured first: two colour sequences a run,
    // four bytes a cell, the marks, the closing reset and the line end. The
    // line is then written without a check per piece.
    const CellAttr* attr = row.attrs();
    std::size_t runs = 0;
    for (std::int32_t c = 0; c < end; ++c) runs += c == 0 || attr[c] != attr[c - 1];
    out.resize(start + runs * 2 * kLongestColor + 4 * length + marksRoom(marks) + 6);
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
