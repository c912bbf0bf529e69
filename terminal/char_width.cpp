#include "terminal/char_width.hpp"

namespace vtsnap::char_width_detail {

namespace {

constexpr std::array<std::int8_t, kFlatCodePoints> makeFlatWidths() {
    std::array<std::int8_t, kFlatCodePoints> flat{};
    // Four at a time: few enough steps for every compiler's limit on
    // evaluating a constant.
    for (std::uint32_t i = 0; i < kFlatCodePoints; i += 4) {
        const std::uint32_t packed = packedWidths(i);
        flat[i] = static_cast<std::int8_t>((packed & 3) - 1);
        flat[i + 1] = static_cast<std::int8_t>((packed >> 2 & 3) - 1);
        flat[i + 2] = static_cast<std::int8_t>((packed >> 4 & 3) - 1);
        flat[i + 3] = static_cast<std::int8_t>((packed >> 6 & 3) - 1);
    }
    return flat;
}

}  // namespace

// Constant, so in the image: nothing runs at startup.
constexpr std::array<std::int8_t, kFlatCodePoints> kFlatWidths = makeFlatWidths();

}  // namespace vtsnap::char_width_detail
