// The tools' screen size: always 120 columns wide, the height chosen by
// -rows=, whose number vtsnap and vtsnap-render read alike (vtsnap-render's
// -cols= too). The library's sizes are its callers'.
#pragma once

#include <algorithm>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace vtsnap {

inline constexpr std::int32_t kColumns = 120;
inline constexpr std::int32_t kDefaultRows = 100;
inline constexpr std::int32_t kMaxRows = 32767;

// A height (or a width) as a command line asks for it, read with readInt
// below: 0 or less keeps `current`, more than kMaxRows is kMaxRows.
constexpr std::int32_t askedSize(std::int32_t asked, std::int32_t current) {
    return asked > 0 ? std::min(asked, kMaxRows) : current;
}

// Reads a number as _wtoi does: white space, an optional sign, decimal digits
// up to the first non-digit; no digits give 0; out-of-range values saturate.
template <class Char>
std::int32_t readInt(std::basic_string_view<Char> text) {
    std::size_t i = 0;
    auto isSpace = [](Char c) {
        return c == Char(' ') || (c >= Char('\t') && c <= Char('\r'));
    };
    while (i < text.size() && isSpace(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == Char('+') || text[i] == Char('-'))) {
        negative = text[i] == Char('-');
        ++i;
    }
    std::int64_t value = 0;
    const std::int64_t limit = negative ? -std::int64_t(INT32_MIN) : INT32_MAX;
    for (; i < text.size() && text[i] >= Char('0') && text[i] <= Char('9'); ++i) {
        value = value * 10 + (text[i] - Char('0'));
        if (value >= limit) {
            value = limit;  // saturated; the rest of the digits cannot change it
        }
    }
    return static_cast<std::int32_t>(negative ? -value : value);
}

}  // namespace vtsnap
