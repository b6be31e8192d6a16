// The merged pass four lanes at a time. Built with AVX2 enabled for this file alone and
// called only on processors that have it, so nothing here may be shared with other files:
// the kernel's templates are instantiated with a type of this file only.
#include "measures/lanes/lane_kernels.hpp"

#if !defined(PELGAR_SCALAR_KERNELS) && defined(__AVX2__)
#include <immintrin.h>

#include "measures/lanes/lane_kernel.hpp"

namespace pelgar::measures::lanes {
namespace {

struct Avx2Ops {
    using V = __m256i;
    static constexpr std::size_t kWidth = 4;

    static V load(const std::uint64_t* from) { return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from)); }
    static void store(std::uint64_t* to, V v) { _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), v); }
    static V splat(std::uint64_t x) { return _mm256_set1_epi64x(static_cast<long long>(x)); }
    static V zero() { return _mm256_setzero_si256(); }
    static V bit_and(V a, V b) { return _mm256_and_si256(a, b); }
    static V bit_or(V a, V b) { return _mm256_or_si256(a, b); }
    static V bit_xor(V a, V b) { return _mm256_xor_si256(a, b); }
    static V and_not(V a, V b) { return _mm256_andnot_si256(a, b); }
    static V add(V a, V b) { return _mm256_add_epi64(a, b); }
    static V sub(V a, V b) { return _mm256_sub_epi64(a, b); }
    template <int kBits>
    static V shift_left(V a) { return _mm256_slli_epi64(a, kBits); }
    template <int kBits>
    static V shift_right(V a) { return _mm256_srli_epi64(a, kBits); }
    static V is_zero(V a) { return _mm256_cmpeq_epi64(a, _mm256_setzero_si256()); }
};

}  // namespace

LaneKernel avx2_lane_kernel() { return merged_pass_group<Avx2Ops>; }

}  // namespace pelgar::measures::lanes

#else

namespace pelgar::measures::lanes {
LaneKernel avx2_lane_kernel() { return nullptr; }
}  // namespace pelgar::measures::lanes

#endif
