// SGR: only the foreground and background colours are kept; every other
// rendition is accepted and ignored.
#include <algorithm>

#include "terminal/screen.hpp"

namespace vtsnap {

namespace {

ColorValue channel(std::int32_t v) { return static_cast<ColorValue>(std::min(v, 255)); }

ColorValue direct(std::int32_t r, std::int32_t g, std::int32_t b) {
    return kDirectColorFlag | (channel(r) << 16) | (channel(g) << 8) | channel(b);
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

}  // namespace

void Screen::selectGraphicRendition(const CsiParams& params) {
    CellAttr& attr = currentAttr_;
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
            if (code == 38 || code == 48 || code == 58) extendedColorSub(params, i + 1, subs, extended);
            i += 1 + subs;
            continue;
        }
        std::size_t used = 1;
        if (code == 0) attr = CellAttr{};
        else if (code >= 30 && code <= 37) attr.fg = static_cast<ColorValue>(code - 30);
        else if (code == 39) attr.fg = kDefaultColor;
        else if (code >= 40 && code <= 47) attr.bg = static_cast<ColorValue>(code - 40);
        else if (code == 49) attr.bg = kDefaultColor;
        else if (code >= 90 && code <= 97) attr.fg = static_cast<ColorValue>(code - 82);
        else if (code >= 100 && code <= 107) attr.bg = static_cast<ColorValue>(code - 92);
        else if (code == 38 || code == 48 || code == 58) used = extendedColor(params, i, extended);
        i += used;
    }
}

}  // namespace vtsnap
