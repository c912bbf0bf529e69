// Measures feedBytes on a recorded stream, for comparing with other
// emulators on the same bytes: vtsnap-feed FILE [ROWS [BLOCK]] prints MB/s,
// the best of five passes in blocks of BLOCK bytes (default 4096).
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "terminal/screen.hpp"

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: vtsnap-feed FILE [ROWS [BLOCK]]\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    const int rows = argc > 2 ? std::atoi(argv[2]) : 100;
    const std::size_t block = argc > 3 ? static_cast<std::size_t>(std::max(std::atoi(argv[3]), 1)) : 4096;
    auto screen = std::make_unique<vtsnap::Screen>(120, rows);
    const auto* p = reinterpret_cast<const std::uint8_t*>(bytes.data());
    double best = 0;
    for (int pass = 0; pass < 5; ++pass) {
        const auto start = std::chrono::steady_clock::now();
        for (std::size_t at = 0; at < bytes.size(); at += block)
            screen->feedBytes(p + at, std::min(block, bytes.size() - at));
        const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
        best = std::max(best, bytes.size() / took.count() / 1e6);
    }
    std::printf("%.1f\n", best);
}
