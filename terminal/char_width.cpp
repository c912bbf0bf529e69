#include "terminal/char_width.hpp"

namespace vtsnap::char_width_detail {

namespace {

constexpr std::array<std::int8_t, kFlatCodePoints> makeFlatWidths() {
    std::array<std::int8_t, kFlatCodePoints> flat{};
    for (std::uint32_t i = 0; i < kFlatCodePoints; ++i)
        flat[i] = static_cast<std::int8_t>(tableWidth(i));
    return flat;
}

}  // namespace

// Constant, so in the image: nothing runs at startup.
constexpr std::array<std::int8_t, kFlatCodePoints> kFlatWidths = makeFlatWidths();

}  // namespace vtsnap::char_width_detail
