// What the web page and the picture share: the default colours and the font,
// colours as #rrggbb, the basic and bright colours as classes, and the one
// way a cell's character becomes text in markup.
#pragma once

#include <string>
#include <string_view>

#include "terminal/color.hpp"

namespace vtsnap {

// The defaults follow the viewer's colour scheme: black on white, or light
// grey on black.
inline constexpr std::string_view kLightForeground = "#000000";
inline constexpr std::string_view kLightBackground = "#ffffff";
inline constexpr std::string_view kDarkForeground = "#e5e5e5";
inline constexpr std::string_view kDarkBackground = "#000000";
inline constexpr std::string_view kDarkScheme = "@media (prefers-color-scheme:dark)";
inline constexpr std::string_view kFontFamily =
    "font-family:\"DejaVu Sans Mono\",\"Cascadia Mono\",Consolas,Menlo,\"Liberation Mono\",monospace;";

// A palette index or a direct colour as #rrggbb; not for kDefaultColor.
void appendHex(std::string& out, ColorValue v);

// The sixteen basic and bright colours as classes fN and bN, one rule a line,
// setting `foreground` and `background` (CSS properties) to the colour.
std::string paletteRules(std::string_view foreground, std::string_view background);

// The character, or U+FFFD for what markup must not carry: controls, the line
// and paragraph separators, surrogates, noncharacters, the byte-order mark and
// anything past U+10FFFF. The emulator never puts those in a cell; the output
// does not rely on it.
char32_t markupSafe(char32_t v);

// The character as text in markup: markupSafe's, with <, >, &, and quotes as
// references.
void appendMarkupText(std::string& out, char32_t v);

}  // namespace vtsnap
