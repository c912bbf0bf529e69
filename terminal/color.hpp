// The colour model: what a cell's colour value means, and the red, green and
// blue that each value shows as. Every part of the tool that reads or makes a
// colour goes through here, so that the palette has one definition.
#pragma once

#include <array>
#include <cstdint>

namespace vtsnap {

// 0xFFFFFFFF is the terminal's default colour, 0-255 a palette index (0-15 the
// basic and bright colours), 0x01RRGGBB a direct colour.
using ColorValue = std::uint32_t;
inline constexpr ColorValue kDefaultColor = 0xFFFFFFFFu;
inline constexpr ColorValue kDirectColorFlag = 0x01000000u;

struct Rgb {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};

constexpr bool isDirectColor(ColorValue v) { return v != kDefaultColor && (v & kDirectColorFlag) != 0; }

constexpr ColorValue directColor(Rgb c) {
    return kDirectColorFlag | (ColorValue{c.r} << 16) | (ColorValue{c.g} << 8) | ColorValue{c.b};
}

// xterm's default palette: its sixteen basic and bright colours, then the
// 6 x 6 x 6 cube and the ramp of 24 greys.
inline constexpr std::array<Rgb, 256> kPalette = [] {
    std::array<Rgb, 256> palette{};
    constexpr Rgb kBasic[16] = {
        {0x00, 0x00, 0x00}, {0xcd, 0x00, 0x00}, {0x00, 0xcd, 0x00}, {0xcd, 0xcd, 0x00},
        {0x00, 0x00, 0xee}, {0xcd, 0x00, 0xcd}, {0x00, 0xcd, 0xcd}, {0xe5, 0xe5, 0xe5},
        {0x7f, 0x7f, 0x7f}, {0xff, 0x00, 0x00}, {0x00, 0xff, 0x00}, {0xff, 0xff, 0x00},
        {0x5c, 0x5c, 0xff}, {0xff, 0x00, 0xff}, {0x00, 0xff, 0xff}, {0xff, 0xff, 0xff},
    };
    for (std::size_t i = 0; i < 16; ++i) palette[i] = kBasic[i];
    constexpr std::uint8_t kLevels[6] = {0x00, 0x5f, 0x87, 0xaf, 0xd7, 0xff};
    for (std::size_t i = 0; i < 216; ++i)
        palette[16 + i] = {kLevels[i / 36], kLevels[i / 6 % 6], kLevels[i % 6]};
    for (std::size_t i = 0; i < 24; ++i) {
        const auto grey = static_cast<std::uint8_t>(8 + 10 * i);
        palette[232 + i] = {grey, grey, grey};
    }
    return palette;
}();

// What a palette index or a direct colour shows as; not for kDefaultColor,
// whose look is the viewer's.
constexpr Rgb rgbOf(ColorValue v) {
    if (isDirectColor(v))
        return {static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
    return kPalette[v & 0xFF];
}

}  // namespace vtsnap
