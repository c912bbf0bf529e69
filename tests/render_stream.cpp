#include "tests/render_stream.hpp"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "snapshot/render.hpp"

namespace vtsnap::test {

void feed(Screen& screen, std::string_view bytes) {
    screen.feedBytes(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
}

std::string render(Screen& screen, bool color) {
    return renderSnapshot(screen, color);
}

std::string renderStream(std::string_view bytes, const StreamOptions& options) {
    Screen screen(options.cols, options.rows);
    const std::size_t chunk = options.chunk == 0 ? std::max<std::size_t>(bytes.size(), 1) : options.chunk;
    for (std::size_t at = 0; at < bytes.size(); at += chunk)
        feed(screen, bytes.substr(at, std::min(chunk, bytes.size() - at)));
    return render(screen, options.color);
}

std::string renderStreamAllSplits(std::string_view bytes, const StreamOptions& options) {
    StreamOptions whole = options;
    whole.chunk = 0;
    const std::string expected = renderStream(bytes, whole);
    for (std::size_t chunk = 1; chunk < bytes.size(); ++chunk) {
        StreamOptions split = options;
        split.chunk = chunk;
        EXPECT_EQ(renderStream(bytes, split), expected) << "in blocks of " << chunk << " bytes";
    }
    return expected;
}

}  // namespace vtsnap::test
