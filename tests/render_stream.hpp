// Test helpers: push bytes into a Screen, get the output file's bytes back.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <string>
#include <string_view>

#include "terminal/screen.hpp"
#include "tests/file_bytes.hpp"

namespace vtsnap::test {

struct StreamOptions {
    int cols = 120;
    int rows = 100;
    bool color = false;
    std::size_t chunk = 0;  // 0: the whole stream in one block
};

// Feeds `bytes` to a fresh Screen in blocks of `chunk` bytes and renders it.
std::string renderStream(std::string_view bytes, const StreamOptions& options = {});

// Renders `bytes` once per chunk size 1 .. `bytes.size()` and expects every
// result to equal the one-block result; returns that result.
std::string renderStreamAllSplits(std::string_view bytes, const StreamOptions& options = {});

void feed(Screen& screen, std::string_view bytes);
std::string render(Screen& screen, bool color = false);

}  // namespace vtsnap::test
