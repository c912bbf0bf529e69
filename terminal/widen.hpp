// Bytes to code points a few at a time, for the text paths that move short
// runs: unpacks with SSE2 (every x86-64); elsewhere a loop the compiler
// vectorises.
#pragma once

#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace vtsnap {

// Writes the N bytes at `in` (N = 2, 4 or 8) as N code points at `out`.
template <int N>
inline void widenBytes(char32_t* out, const std::uint8_t* in) {
    static_assert(N == 2 || N == 4 || N == 8);
#if defined(__SSE2__)
    std::uint64_t word = 0;
    std::memcpy(&word, in, N);
    const __m128i zero = _mm_setzero_si128();
    const __m128i units = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(&word)), zero);
    const __m128i low = _mm_unpacklo_epi16(units, zero);
    if constexpr (N == 8) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), low);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), _mm_unpackhi_epi16(units, zero));
    } else if constexpr (N == 4) {
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), low);
    } else {
        _mm_storel_epi64(reinterpret_cast<__m128i*>(out), low);
    }
#else
    for (int i = 0; i < N; ++i) out[i] = in[i];
#endif
}

}  // namespace vtsnap
