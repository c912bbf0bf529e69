// What the fuzz targets share: a broken property ends the run with its name,
// and the test for strict UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

// The checks walk whole outputs; tracing their comparisons would only slow
// the fuzzer down without guiding it anywhere.
#define HARNESS_ONLY __attribute__((no_sanitize("coverage")))

namespace vtsnap::fuzz {

[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "property broken: %s\n", what);
    std::abort();
}

inline void check(bool ok, const char* what) {
    if (!ok) fail(what);
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
HARNESS_ONLY inline bool validUtf8(std::string_view s) {
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t more;
        std::uint32_t v;
        if (b < 0x80) { ++i; continue; }
        if (b >= 0xC2 && b <= 0xDF) { more = 1; v = b & 0x1Fu; }
        else if (b >= 0xE0 && b <= 0xEF) { more = 2; v = b & 0x0Fu; }
        else if (b >= 0xF0 && b <= 0xF4) { more = 3; v = b & 0x07u; }
        else return false;
        if (i + more >= s.size()) return false;
        for (std::size_t k = 1; k <= more; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80) return false;
            v = (v << 6) | (c & 0x3Fu);
        }
        if ((more == 2 && v < 0x800) || (more == 3 && v < 0x10000)) return false;
        if (v >= 0xD800 && v <= 0xDFFF) return false;
        if (v > 0x10FFFF) return false;
        i += 1 + more;
    }
    return true;
}

}  // namespace vtsnap::fuzz
