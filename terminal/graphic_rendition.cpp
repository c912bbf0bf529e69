// SGR: only the foreground and background colours are kept; every other
// rendition is accepted and ignored.
#include <algorithm>
#include <array>

#include "terminal/screen.hpp"

namespace vtsnap {

namespace {

ColorValue channel(std::int32_t v) { return static_cast<ColorValue>(std::min(v, 255)); }

ColorValue direct(std::int32_t r, std::int32_t g, std::int32_t b) {
    return directColor({static_cast<std::uint8_t>(channel(r)), static_cast<std::uint8_t>(channel(g)),
                        static_cast<std::uint8_t>(channel(b))});
}

// True when params[first..last] are parameters without sub-parameters.
bool plainParams(const CsiParams& params, std::size_t first, std::size_t last) {
    if (last >= params.size()) return false;
    if (!params.hasSubs()) return true;  // nearly every list
    for (std::size_t i = first; i <= last + 1 && i < params.size(); ++i)
        if (params.isSub(i)) return false;
    return true;
}

// 38, 48 or 58 at params[i] in the ';' form: 5;index or 2;r;g;b, from
// parameters that carry no sub-parameters. Returns how many values it used;
// otherwise it sets nothing and uses only the code.
std::size_t extendedColor(const CsiParams& params, std::size_t i, ColorValue* color) {
    if (plainParams(params, i + 1, i + 2) && params[i + 1] == 5) {
        if (color) *color = channel(params[i + 2]);
        return 3;
    }
    if (plainParams(params, i + 1, i + 4) && params[i + 1] == 2) {
        if (color) *color = direct(params[i + 2], params[i + 3], params[i + 4]);
        return 5;
    }
    return 1;
}

// The ':' form: 5:index, 2:r:g:b, or 2:id:r:g:b with a colour-space id
// (empty or not) first. `sub` points at the sub-parameters.
void extendedColorSub(const CsiParams& params, std::size_t sub, std::size_t subs, ColorValue* color) {
    if (color == nullptr || subs < 2) return;
    if (params[sub] == 5 && subs == 2) *color = channel(params[sub + 1]);
    if (params[sub] == 2 && subs == 4) *color = direct(params[sub + 1], params[sub + 2], params[sub + 3]);
    if (params[sub] == 2 && subs == 5) *color = direct(params[sub + 2], params[sub + 3], params[sub + 4]);
}

// What a code without sub-parameters, other than 38, 48 and 58, does to the
// colours: each keeps the bits in its mask and takes those in its value. In
// coloured text the code is random, and a chain of comparisons on it
// mispredicts; a table lookup does not.
struct Effect {
    ColorValue fgKeep = ~ColorValue{0};
    ColorValue fg = 0;
    ColorValue bgKeep = ~ColorValue{0};
    ColorValue bg = 0;
};

constexpr std::int32_t kNoEffect = 108;  // this code and every one above change nothing

constexpr std::array<Effect, kNoEffect + 1> makeEffects() {
    std::array<Effect, kNoEffect + 1> table{};
    const auto fg = [&table](std::int32_t code, ColorValue color) {
        table[static_cast<std::size_t>(code)].fgKeep = 0;
        table[static_cast<std::size_t>(code)].fg = color;
    };
    const auto bg = [&table](std::int32_t code, ColorValue color) {
        table[static_cast<std::size_t>(code)].bgKeep = 0;
        table[static_cast<std::size_t>(code)].bg = color;
    };
    fg(0, kDefaultColor);
    bg(0, kDefaultColor);
    for (std::int32_t c = 0; c < 8; ++c) {
        fg(30 + c, static_cast<ColorValue>(c));
        bg(40 + c, static_cast<ColorValue>(c));
        fg(90 + c, static_cast<ColorValue>(c + 8));
        bg(100 + c, static_cast<ColorValue>(c + 8));
    }
    fg(39, kDefaultColor);
    bg(49, kDefaultColor);
    return table;
}

constexpr std::array<Effect, kNoEffect + 1> kEffects = makeEffects();

void applyEffect(CellAttr& attr, std::int32_t code) {
    const Effect& e = kEffects[static_cast<std::size_t>(std::min(code, kNoEffect))];
    attr.fg = (attr.fg & e.fgKeep) | e.fg;
    attr.bg = (attr.bg & e.bgKeep) | e.bg;
}

bool extendedCode(std::int32_t code) { return code == 38 || code == 48 || code == 58; }

}  // namespace

void Screen::selectGraphicRendition(const CsiParams& params) {
    CellAttr& attr = currentAttr_;
    // A single code, as most are (ESC[m, ESC[0m, ESC[31m), without the loop.
    if (params.size() == 1 && !extendedCode(params[0])) {
        applyEffect(attr, params[0]);
        return;
    }
    for (std::size_t i = 0; i < params.size();) {
        const std::int32_t code = params[i];
        std::size_t subs = 0;
        if (params.hasSubs())  // lists without ':' skip the search
            while (i + 1 + subs < params.size() && params.isSub(i + 1 + subs)) ++subs;
        ColorValue* extended = code == 38 ? &attr.fg : code == 48 ? &attr.bg : nullptr;
        if (subs > 0) {
            // Sub-parameters only ever choose an extended colour (58, the
            // underline colour, is read and not kept); 4:3 and the like
            // change no colour.
            if (extendedCode(code)) extendedColorSub(params, i + 1, subs, extended);
            i += 1 + subs;
            continue;
        }
        if (extendedCode(code)) {
            i += extendedColor(params, i, extended);
            continue;
        }
        applyEffect(attr, code);
        ++i;
    }
}

}  // namespace vtsnap
