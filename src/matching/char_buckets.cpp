#include "matching/char_buckets.hpp"

#if !defined(PELGAR_SCALAR_KERNELS) && defined(__SSE2__)
#include <emmintrin.h>
#define PELGAR_BUCKETS_SSE2 1
#endif

namespace pelgar::matching {

std::size_t CharBuckets::count_in(const CharBuckets& present) const {
#ifdef PELGAR_BUCKETS_SSE2
    // Masked counts summed eight bytes at a time by the sum of absolute differences from zero.
    const __m128i zero = _mm_setzero_si128();
    const __m128i* counts = reinterpret_cast<const __m128i*>(counts_);
    const __m128i* masks = reinterpret_cast<const __m128i*>(present.counts_);
    const __m128i sums = _mm_add_epi64(_mm_sad_epu8(_mm_and_si128(_mm_load_si128(counts), _mm_load_si128(masks)), zero),
                                       _mm_sad_epu8(_mm_and_si128(_mm_load_si128(counts + 1), _mm_load_si128(masks + 1)), zero));
    return static_cast<std::size_t>(_mm_cvtsi128_si32(sums) + _mm_cvtsi128_si32(_mm_unpackhi_epi64(sums, sums)));
#else
    std::size_t total = 0;
    for (std::size_t b = 0; b < kBuckets; ++b) total += counts_[b] & present.counts_[b];
    return total;
#endif
}

}  // namespace pelgar::matching
