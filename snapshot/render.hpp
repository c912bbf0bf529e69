// Turns a Screen into the exact bytes of the output file: UTF-8 with a BOM,
// the occupied rows with trailing blanks trimmed, CR LF line ends, and in
// colour mode SGR sequences for every change of colour.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "terminal/screen.hpp"

namespace vtsnap {

// The screen must not change meanwhile. Never fails: an unpaired surrogate is written
// as U+FFFD so that one odd cell cannot stop the file from being updated.
std::string renderSnapshot(const Screen& screen, bool useColor);

void appendAscii(std::string& out, std::string_view text);
void appendDecimal(std::string& out, std::uint32_t value);
// For colours of 16 or more: a palette index or, with bit 24, a direct colour.
void appendExtendedColor(std::string& out, std::string_view prefix, ColorValue n);
// Converts UTF-16 to UTF-8 into the tail of `out`, measuring first.
void appendUtf8(std::string& out, const char16_t* units, std::size_t count);

}  // namespace vtsnap
