#include "terminal/screen.hpp"

namespace vtsnap {

// Splits at ';'. Other bytes (markers, intermediates, ':') drop out of the
// number they stand in, so their digits join; values saturate at 32767.
ParamList Screen::parseParams() const {
    ParamList list;
    std::int32_t value = 0;
    bool saturated = false;
    for (std::size_t i = 0; i < paramBuffer.size(); ++i) {
        const std::uint8_t b = paramBuffer[i];
        if (b == ';') {
            list.push(value);
            value = 0;
            saturated = false;
        } else if (!saturated && b >= '0' && b <= '9') {
            value = value * 10 + (b - '0');
            if (value > ParamList::kMaxValue) {
                value = ParamList::kMaxValue;
                saturated = true;
            }
        }
    }
    list.push(value);
    return list;
}

}  // namespace vtsnap
