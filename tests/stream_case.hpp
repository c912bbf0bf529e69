// One entry of a catalogue of streams: the bytes pushed into a fresh screen
// and the whole file expected back, in one block and in every split.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "tests/render_stream.hpp"

#define ESC "\x1b"
#define CSI "\x1b["

namespace vtsnap::test {

struct StreamCase {
    std::string name;  // letters, digits and '_': it becomes the test's name
    std::string input;
    std::string expected;
    StreamOptions options{};
};

inline void PrintTo(const StreamCase& c, std::ostream* os) { *os << c.name; }

inline std::string caseName(const ::testing::TestParamInfo<StreamCase>& info) {
    return info.param.name;
}

// Checks the case in one block and cut at every possible place.
inline void expectFile(const StreamCase& c) {
    EXPECT_EQ(renderStreamAllSplits(c.input, c.options), c.expected);
}

}  // namespace vtsnap::test
