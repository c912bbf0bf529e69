#include <algorithm>

#include "terminal/screen.hpp"

namespace vtsnap {

namespace {

// 38/48 at list[i]: 5;index or 2;r;g;b. Returns how many elements it used;
// with too few elements it sets nothing and uses only the 38 or 48.
std::size_t extendedColor(const ParamList& list, std::size_t i, ColorValue& color) {
    const std::size_t count = list.size();
    if (i + 1 >= count) return 1;
    if (list[i + 1] == 5 && i + 2 < count) {
        color = static_cast<ColorValue>(std::min(list[i + 2], 255));
        return 3;
    }
    if (list[i + 1] == 2 && i + 4 < count) {
        const auto r = static_cast<ColorValue>(std::min(list[i + 2], 255));
        const auto g = static_cast<ColorValue>(std::min(list[i + 3], 255));
        const auto b = static_cast<ColorValue>(std::min(list[i + 4], 255));
        color = kDirectColorFlag | (r << 16) | (g << 8) | b;
        return 5;
    }
    return 1;
}

}  // namespace

// Only colours are kept; every other rendition is accepted and ignored.
void Screen::selectGraphicRendition(const ParamList& list) {
    for (std::size_t i = 0; i < list.size();) {
        const std::int32_t code = list[i];
        std::size_t used = 1;
        if (code == 0) {
            currentAttr = CellAttr{};
        } else if (code >= 30 && code <= 37) {
            currentAttr.fg = static_cast<ColorValue>(code - 30);
        } else if (code == 38) {
            used = extendedColor(list, i, currentAttr.fg);
        } else if (code == 39) {
            currentAttr.fg = kDefaultColor;
        } else if (code >= 40 && code <= 47) {
            currentAttr.bg = static_cast<ColorValue>(code - 40);
        } else if (code == 48) {
            used = extendedColor(list, i, currentAttr.bg);
        } else if (code == 49) {
            currentAttr.bg = kDefaultColor;
        } else if (code >= 90 && code <= 97) {
            currentAttr.fg = static_cast<ColorValue>(code - 82);
        } else if (code >= 100 && code <= 107) {
            currentAttr.bg = static_cast<ColorValue>(code - 92);
        }
        i += used;
    }
}

}  // namespace vtsnap
