// The merged pass two lanes at a time: SSE2, which every x86-64 processor has.
#include "measures/lanes/lane_kernels.hpp"

#if !defined(PELGAR_SCALAR_KERNELS) && defined(__SSE2__)
#include <emmintrin.h>

#include "measures/lanes/lane_kernel.hpp"

namespace pelgar::measures::lanes {
namespace {

struct Sse2Ops {
    using V = __m128i;
    static constexpr std::size_t kWidth = 2;

    static V load(const std::uint64_t* from) { return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from)); }
    static void store(std::uint64_t* to, V v) { _mm_storeu_si128(reinterpret_cast<__m128i*>(to), v); }
    static V splat(std::uint64_t x) { return _mm_set1_epi64x(static_cast<long long>(x)); }
    static V zero() { return _mm_setzero_si128(); }
    static V bit_and(V a, V b) { return _mm_and_si128(a, b); }
    static V bit_or(V a, V b) { return _mm_or_si128(a, b); }
    static V bit_xor(V a, V b) { return _mm_xor_si128(a, b); }
    static V and_not(V a, V b) { return _mm_andnot_si128(a, b); }
    static V add(V a, V b) { return _mm_add_epi64(a, b); }
    static V sub(V a, V b) { return _mm_sub_epi64(a, b); }
    template <int kBits>
    static V shift_left(V a) { return _mm_slli_epi64(a, kBits); }
    template <int kBits>
    static V shift_right(V a) { return _mm_srli_epi64(a, kBits); }
    // SSE2 compares 32-bit halves only: a 64-bit lane is zero when both of its halves are.
    static V is_zero(V a) {
        const V halves = _mm_cmpeq_epi32(a, _mm_setzero_si128());
        return _mm_and_si128(halves, _mm_shuffle_epi32(halves, _MM_SHUFFLE(2, 3, 0, 1)));
    }
};

}  // namespace

LaneKernel sse2_lane_kernel() { return merged_pass_group<Sse2Ops>; }

}  // namespace pelgar::measures::lanes

#else

namespace pelgar::measures::lanes {
LaneKernel sse2_lane_kernel() { return nullptr; }
}  // namespace pelgar::measures::lanes

#endif
