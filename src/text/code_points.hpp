#pragma once

#include <bit>
#include <cstddef>
#include <string_view>

// PELGAR_SCALAR_KERNELS (a CMake option) builds the portable path on any processor, for its tests.
#if !defined(PELGAR_SCALAR_KERNELS) && (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#include <emmintrin.h>
#define PELGAR_CODE_POINTS_SSE2 1
#endif

// Scans over text held as code points, four at a time where SSE2 is available: names of ten
// to thirty characters are where they run, so the last block overlaps its predecessor
// instead of ending in a loop over single code points.
namespace pelgar::text {

#ifdef PELGAR_CODE_POINTS_SSE2
namespace code_points_detail {

inline __m128i load4(const char32_t* at) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(at)); }

// Sets bit 5 in every lane from 'A' to 'Z'; lanes must be below 0x80000000.
inline __m128i ascii_lower4(__m128i x) {
    const __m128i upper = _mm_and_si128(_mm_cmpgt_epi32(x, _mm_set1_epi32('A' - 1)), _mm_cmplt_epi32(x, _mm_set1_epi32('Z' + 1)));
    return _mm_or_si128(x, _mm_and_si128(upper, _mm_set1_epi32(0x20)));
}

}  // namespace code_points_detail
#endif

// The bitwise OR of every code point: below 0x80 means ASCII only, below 0xD800 no surrogate.
inline char32_t or_of_code_points(std::u32string_view text) {
    const char32_t* const data = text.data();
    const std::size_t size = text.size();
#ifdef PELGAR_CODE_POINTS_SSE2
    if (size >= 4) {
        using code_points_detail::load4;
        __m128i seen = load4(data + size - 4);
        for (std::size_t i = 0; i + 4 < size; i += 4) seen = _mm_or_si128(seen, load4(data + i));
        seen = _mm_or_si128(seen, _mm_shuffle_epi32(seen, 0x4E));
        seen = _mm_or_si128(seen, _mm_shuffle_epi32(seen, 0xB1));
        return static_cast<char32_t>(_mm_cvtsi128_si32(seen));
    }
#endif
    char32_t seen = 0;
    for (std::size_t i = 0; i < size; ++i) seen |= data[i];
    return seen;
}

inline char32_t ascii_lower(char32_t cp) { return cp + (cp - U'A' < 26u ? 32 : 0); }

// Lowercases size ASCII code points from `from` into `to` (separate buffers).
inline void ascii_lower_code_points(const char32_t* from, char32_t* to, std::size_t size) {
#ifdef PELGAR_CODE_POINTS_SSE2
    if (size >= 4) {
        using namespace code_points_detail;
        // Lowercasing is idempotent, and the overlapping last block reads from `from`.
        for (std::size_t i = 0; i + 4 < size; i += 4)
            _mm_storeu_si128(reinterpret_cast<__m128i*>(to + i), ascii_lower4(load4(from + i)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(to + size - 4), ascii_lower4(load4(from + size - 4)));
        return;
    }
#endif
    for (std::size_t i = 0; i < size; ++i) to[i] = ascii_lower(from[i]);
}

// Length of the run of code points below 0x80 from text[pos].
inline std::size_t ascii_run_length(std::u32string_view text, std::size_t pos) {
    std::size_t at = pos;
#ifdef PELGAR_CODE_POINTS_SSE2
    for (; at + 4 <= text.size(); at += 4) {
        const __m128i above = _mm_cmpgt_epi32(code_points_detail::load4(text.data() + at), _mm_set1_epi32(0x7F));
        // Code points above 0x7FFFFFFF do not occur, so a signed comparison serves.
        if (const int mask = _mm_movemask_ps(_mm_castsi128_ps(above)))
            return at - pos + static_cast<std::size_t>(std::countr_zero(static_cast<unsigned>(mask)));
    }
#endif
    while (at < text.size() && text[at] < 0x80) ++at;
    return at - pos;
}

}  // namespace pelgar::text
