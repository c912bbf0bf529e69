#include "snapshot/render.hpp"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace vtsnap {

namespace {

constexpr std::size_t kInitialReserve = 8192;

bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
bool isSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDFFF; }

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
    if (n & kDirectColorFlag) {
        p = put(p, "2;");
        p = putByteValue(p, (n >> 16) & 0xFF);
        *p++ = ';';
        p = putByteValue(p, (n >> 8) & 0xFF);
        *p++ = ';';
    } else {
        p = put(p, "5;");
    }
    p = putByteValue(p, n & 0xFF);
    *p++ = 'm';
    return p;
}

bool rowOccupied(const char16_t* text, std::int32_t cols) {
    return std::any_of(text, text + cols, [](char16_t u) { return u != u' '; });
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

// Writes UTF-16 as UTF-8 at p, which has room for three bytes a unit, and
// returns the end. An unpaired surrogate is written as U+FFFD; with `attrs`,
// so is each half of a pair whose cells have different colours, as if a run
// of one colour ended between them.
char* putUtf8(char* out, const char16_t* units, std::size_t count, const CellAttr* attrs) {
    auto* p = reinterpret_cast<unsigned char*>(out);
    for (std::size_t i = 0; i < count; ++i) {
        std::uint32_t v = units[i];
        if (isSurrogate(units[i])) [[unlikely]] {
            if (isHighSurrogate(units[i]) && i + 1 < count && isLowSurrogate(units[i + 1]) &&
                (attrs == nullptr || attrs[i] == attrs[i + 1])) {
                v = 0x10000 + ((v - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
                ++i;
                *p++ = static_cast<unsigned char>(0xF0 | (v >> 18));
                *p++ = static_cast<unsigned char>(0x80 | ((v >> 12) & 0x3F));
                *p++ = static_cast<unsigned char>(0x80 | ((v >> 6) & 0x3F));
                *p++ = static_cast<unsigned char>(0x80 | (v & 0x3F));
                continue;
            }
            v = 0xFFFD;  // a lone half cannot be encoded; keep the rest of the screen
        }
        // All three bytes are written, in arithmetic on the length rather
        // than branches, which mixed text would mispredict often. The bytes
        // past the length are overwritten or cut off.
        const std::uint32_t two = v >= 0x80;    // at least two bytes
        const std::uint32_t three = v >= 0x800;
        p[0] = static_cast<unsigned char>((0xC0 * two) | (0x20 * three) | (v >> (6 * (two + three))));
        p[1] = static_cast<unsigned char>(0x80 | ((v >> (6 * three)) & 0x3F));
        p[2] = static_cast<unsigned char>(0x80 | (v & 0x3F));
        p += 1 + two + three;
    }
    return reinterpret_cast<char*>(p);
}

// A run of one colour, most often plain ASCII: narrowed in one pass that also
// tells, and written again as UTF-8 otherwise.
char* putRun(char* out, const char16_t* units, std::size_t count) {
    char16_t any = 0;
    for (std::size_t i = 0; i < count; ++i) {
        any |= units[i];
        out[i] = static_cast<char>(units[i]);
    }
    return any < 0x80 ? out + count : putUtf8(out, units, count, nullptr);
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

std::size_t renderAsciiRow(char* out, const char16_t* text, std::int32_t cols) {
    // Narrowed in one pass that also tells whether every cell was ASCII.
    const auto count = static_cast<std::size_t>(cols);
    char16_t any = 0;
    for (std::size_t i = 0; i < count; ++i) {
        any |= text[i];
        out[i] = static_cast<char>(text[i]);
    }
    if (any >= 0x80) return 0;
    const std::size_t length = trimmedLength(out, count);
    out[length] = '\r';
    out[length + 1] = '\n';
    return length + 2;
}

namespace {

bool appendAsciiRow(std::string& out, const char16_t* text, std::int32_t cols) {
    const std::size_t start = out.size();
    out.resize(start + static_cast<std::size_t>(cols) + 2);
    const std::size_t length = renderAsciiRow(out.data() + start, text, cols);
    out.resize(start + length);
    return length != 0;
}

}  // namespace

void renderRow(std::string& out, const char16_t* text, const CellAttr* attr, std::int32_t cols, bool useColor) {
    if (!useColor && appendAsciiRow(out, text, cols)) return;

    // Trailing spaces and TABs go, whatever their colours.
    std::int32_t end = cols;
    while (end > 0 && (text[end - 1] == u' ' || text[end - 1] == u'\t')) --end;

    const auto length = static_cast<std::size_t>(end);
    const std::size_t start = out.size();
    if (!useColor) {
        // Colours only matter where they split a pair of surrogate halves.
        out.resize(start + 3 * length + 2);
        char* p = putUtf8(out.data() + start, text, length, attr);
        p = put(p, "\r\n");
        out.resize(static_cast<std::size_t>(p - out.data()));
        return;
    }

    // Room for the whole line, measured first: two colour sequences a run,
    // three bytes a cell, the closing reset and the line end. The line is then
    // written without a check per piece.
    std::size_t runs = 0;
    for (std::int32_t c = 0; c < end; ++c) runs += c == 0 || attr[c] != attr[c - 1];
    out.resize(start + runs * 2 * kLongestColor + 3 * length + 6);
    char* p = out.data() + start;
    // A run of one colour at a time; the halves of a character split by a
    // change of colour are written as U+FFFD.
    CellAttr previous;
    for (std::int32_t c = 0; c < end;) {
        const CellAttr a = attr[c];
        if (a.fg != previous.fg) p = putColor(p, true, a.fg);
        if (a.bg != previous.bg) p = putColor(p, false, a.bg);
        std::int32_t runEnd = c + 1;
        while (runEnd < end && attr[runEnd] == a) ++runEnd;
        p = putRun(p, text + c, static_cast<std::size_t>(runEnd - c));
        previous = a;
        c = runEnd;
    }
    if (previous != CellAttr{}) p = put(p, "\x1b[0m");
    p = put(p, "\r\n");
    out.resize(static_cast<std::size_t>(p - out.data()));
}

void renderRows(std::string& out, const Screen& screen, bool useColor) {
    const std::int32_t cols = screen.cols();
    // Rows from usedRows() down are blank: no need to look at them.
    const std::int32_t rows = screen.usedRows();
    auto occupied = [&](std::int32_t r) { return !screen.rowIsBlank(r) && rowOccupied(screen.rowChars(r), cols); };
    std::int32_t first = 0;
    while (first < rows && !occupied(first)) ++first;
    if (first == rows) return;
    std::int32_t last = rows - 1;
    while (last > first && !occupied(last)) --last;

    // Room for full rows of ASCII up front saves regrowing a large screen's
    // buffer several times over.
    out.reserve(out.size() + std::size_t(last - first + 1) * std::size_t(cols + 2));
    for (std::int32_t r = first; r <= last; ++r) renderRow(out, screen.rowChars(r), screen.rowAttrs(r), cols, useColor);
}

std::string renderSnapshot(const Screen& screen, bool useColor) {
    std::string out;
    out.reserve(kInitialReserve);
    appendAscii(out, kByteOrderMark);
    renderRows(out, screen, useColor);
    return out;
}

}  // namespace vtsnap
