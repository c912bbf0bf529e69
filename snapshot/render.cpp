#include "snapshot/render.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

namespace vtsnap {

namespace {

constexpr std::size_t kInitialReserve = 8192;

bool isHighSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool isLowSurrogate(char16_t u) { return u >= 0xDC00 && u <= 0xDFFF; }
bool isSurrogate(char16_t u) { return u >= 0xD800 && u <= 0xDFFF; }

// The sixteen basic and bright colours, foreground then background.
constexpr std::string_view kBasicColors[2][16] = {
    {"\x1b[30m", "\x1b[31m", "\x1b[32m", "\x1b[33m", "\x1b[34m", "\x1b[35m", "\x1b[36m", "\x1b[37m",
     "\x1b[90m", "\x1b[91m", "\x1b[92m", "\x1b[93m", "\x1b[94m", "\x1b[95m", "\x1b[96m", "\x1b[97m"},
    {"\x1b[40m", "\x1b[41m", "\x1b[42m", "\x1b[43m", "\x1b[44m", "\x1b[45m", "\x1b[46m", "\x1b[47m",
     "\x1b[100m", "\x1b[101m", "\x1b[102m", "\x1b[103m", "\x1b[104m", "\x1b[105m", "\x1b[106m", "\x1b[107m"},
};

void appendColor(std::string& out, bool foreground, ColorValue n) {
    if (n == kDefaultColor) {
        appendAscii(out, foreground ? "\x1b[39m" : "\x1b[49m");
    } else if (n < 16) {
        appendAscii(out, kBasicColors[foreground ? 0 : 1][n]);
    } else {
        appendExtendedColor(out, foreground ? "38;" : "48;", n);
    }
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

void appendExtendedColor(std::string& out, std::string_view prefix, ColorValue n) {
    appendAscii(out, "\x1b[");
    appendAscii(out, prefix);
    if (n & kDirectColorFlag) {
        appendAscii(out, "2;");
        appendDecimal(out, (n >> 16) & 0xFF);
        out += ';';
        appendDecimal(out, (n >> 8) & 0xFF);
        out += ';';
    } else {
        appendAscii(out, "5;");
    }
    appendDecimal(out, n & 0xFF);
    out += 'm';
}

namespace {

// Converts UTF-16 to UTF-8 into the tail of `out`. An unpaired surrogate is
// written as U+FFFD; with `attrs`, so is each half of a pair whose cells have
// different colours, as if a run of one colour ended between them.
void encodeUtf8(std::string& out, const char16_t* units, std::size_t count, const CellAttr* attrs) {
    const std::size_t start = out.size();
    // Most runs are plain ASCII: one check, then a narrowing copy.
    char16_t any = 0;
    for (std::size_t i = 0; i < count; ++i) any |= units[i];
    if (any < 0x80) {
        out.resize(start + count);
        char* p = out.data() + start;
        for (std::size_t i = 0; i < count; ++i) p[i] = static_cast<char>(units[i]);
        return;
    }
    // Room for three bytes a unit, the most any takes (a pair takes four).
    out.resize(start + 3 * count);
    auto* const first = reinterpret_cast<unsigned char*>(out.data() + start);
    unsigned char* p = first;
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
    out.resize(start + static_cast<std::size_t>(p - first));
}

}  // namespace

void appendUtf8(std::string& out, const char16_t* units, std::size_t count) { encodeUtf8(out, units, count, nullptr); }

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

    if (!useColor) {
        // Colours only matter where they split a pair of surrogate halves.
        encodeUtf8(out, text, static_cast<std::size_t>(end), attr);
        appendAscii(out, "\r\n");
        return;
    }

    // A run of one colour at a time; the halves of a character split by a
    // change of colour are written as U+FFFD.
    CellAttr previous;
    for (std::int32_t c = 0; c < end;) {
        const CellAttr a = attr[c];
        if (a.fg != previous.fg) appendColor(out, true, a.fg);
        if (a.bg != previous.bg) appendColor(out, false, a.bg);
        std::int32_t runEnd = c + 1;
        while (runEnd < end && attr[runEnd] == a) ++runEnd;
        appendUtf8(out, text + c, static_cast<std::size_t>(runEnd - c));
        previous = a;
        c = runEnd;
    }
    if (previous != CellAttr{}) appendAscii(out, "\x1b[0m");
    appendAscii(out, "\r\n");
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
