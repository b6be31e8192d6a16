// The merged pass over 256-bit vectors: a block in two vectors. Built with AVX2 enabled for
// this file alone and called only on processors that have it, so nothing here may be
// shared with other files: the kernel's templates are instantiated with types of this file only.
#include "measures/lanes/lane_kernels.hpp"

#if !defined(PELGAR_SCALAR_KERNELS) && defined(__AVX2__)
#include <immintrin.h>

#include <cstring>

#include "measures/lanes/lane_kernel.hpp"

namespace pelgar::measures::lanes {
namespace {

template <std::size_t kLaneBits>
struct Avx2Ops {
    static constexpr std::size_t kBits = kLaneBits;
    static constexpr std::size_t kLanes = 256 / kBits;
    static constexpr bool kTernary = false;
    using V = __m256i;
    using Word = LaneWord<kBits>;

    static V load(const void* from) { return _mm256_loadu_si256(static_cast<const __m256i*>(from)); }
    static V load_row(const std::uint8_t* from) { return load(from); }
    static void store(void* to, V v) { _mm256_storeu_si256(static_cast<__m256i*>(to), v); }
    static V splat(std::uint64_t x) {
        if constexpr (kBits == 8) return _mm256_set1_epi8(static_cast<char>(x));
        else if constexpr (kBits == 16) return _mm256_set1_epi16(static_cast<short>(x));
        else if constexpr (kBits == 32) return _mm256_set1_epi32(static_cast<int>(x));
        else return _mm256_set1_epi64x(static_cast<long long>(x));
    }
    static V zero() { return _mm256_setzero_si256(); }
    static V ones() { return _mm256_set1_epi64x(-1); }
    static V bit_and(V a, V b) { return _mm256_and_si256(a, b); }
    static V bit_or(V a, V b) { return _mm256_or_si256(a, b); }
    static V bit_xor(V a, V b) { return _mm256_xor_si256(a, b); }
    static V and_not(V a, V b) { return _mm256_andnot_si256(a, b); }
    static V add(V a, V b) {
        if constexpr (kBits == 8) return _mm256_add_epi8(a, b);
        else if constexpr (kBits == 16) return _mm256_add_epi16(a, b);
        else if constexpr (kBits == 32) return _mm256_add_epi32(a, b);
        else return _mm256_add_epi64(a, b);
    }
    static V sub(V a, V b) {
        if constexpr (kBits == 8) return _mm256_sub_epi8(a, b);
        else if constexpr (kBits == 16) return _mm256_sub_epi16(a, b);
        else if constexpr (kBits == 32) return _mm256_sub_epi32(a, b);
        else return _mm256_sub_epi64(a, b);
    }
    static V shift_left_1(V a) { return add(a, a); }
    // No 8-bit shift: 16-bit lanes pull the next byte's lowest bit into each byte's top.
    static V shift_right_1(V a) {
        if constexpr (kBits <= 16) return _mm256_srli_epi16(a, 1);
        else if constexpr (kBits == 32) return _mm256_srli_epi32(a, 1);
        else return _mm256_srli_epi64(a, 1);
    }
    static V is_zero(V a) {
        if constexpr (kBits == 8) return _mm256_cmpeq_epi8(a, zero());
        else if constexpr (kBits == 16) return _mm256_cmpeq_epi16(a, zero());
        else if constexpr (kBits == 32) return _mm256_cmpeq_epi32(a, zero());
        else return _mm256_cmpeq_epi64(a, zero());
    }
    static V count_zero(V counter, V x) { return sub(counter, is_zero(x)); }
    // Bits per byte from a table of the 16 nibbles, then summed up to the lane.
    static V popcount(V a) {
        const V table = _mm256_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4, 0, 1, 1, 2, 1, 2, 2, 3, 1, 2,
                                         2, 3, 2, 3, 3, 4);
        const V nibble = _mm256_set1_epi8(0x0F);
        const V bytes = _mm256_add_epi8(_mm256_shuffle_epi8(table, _mm256_and_si256(a, nibble)),
                                        _mm256_shuffle_epi8(table, _mm256_and_si256(_mm256_srli_epi16(a, 4), nibble)));
        if constexpr (kBits == 8) return bytes;
        if constexpr (kBits == 64) return _mm256_sad_epu8(bytes, zero());
        const V pairs = _mm256_add_epi16(_mm256_and_si256(bytes, _mm256_set1_epi16(0xFF)), _mm256_srli_epi16(bytes, 8));
        if constexpr (kBits == 16) return pairs;
        else return _mm256_madd_epi16(pairs, _mm256_set1_epi16(1));
    }
    static void equal_masks(const std::uint8_t* codes, std::uint8_t code, std::uint8_t* row) {
        const V wanted = _mm256_set1_epi8(static_cast<char>(code));
        for (std::size_t i = 0; i < kBlockCodes / 32; ++i) {
            const auto bits = static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_cmpeq_epi8(load(codes + 32 * i), wanted)));
            std::memcpy(row + 4 * i, &bits, 4);
        }
    }

    using I = __m128i;
    using D = __m256d;
    static constexpr std::size_t kDoubles = 4;
    // Four lane values as 32-bit integers.
    template <class T>
    static I ints(const T* from) {
        if constexpr (sizeof(T) == 1) {
            std::uint32_t four;
            std::memcpy(&four, from, 4);
            return _mm_cvtepu8_epi32(_mm_cvtsi32_si128(static_cast<int>(four)));
        } else if constexpr (sizeof(T) == 2) {
            return _mm_cvtepu16_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(from)));
        } else if constexpr (sizeof(T) == 4) {
            return _mm_loadu_si128(reinterpret_cast<const __m128i*>(from));
        } else {
            const V low_halves = _mm256_permutevar8x32_epi32(load(from), _mm256_setr_epi32(0, 2, 4, 6, 0, 2, 4, 6));
            return _mm256_castsi256_si128(low_halves);
        }
    }
    static I isplat(int x) { return _mm_set1_epi32(x); }
    static I iadd(I a, I b) { return _mm_add_epi32(a, b); }
    static I imax(I a, I b) { return _mm_max_epi32(a, b); }
    static I index(I row, std::size_t stride, I column) {
        return _mm_add_epi32(_mm_mullo_epi32(row, isplat(static_cast<int>(stride))), column);
    }
    static D to_doubles(I a) { return _mm256_cvtepi32_pd(a); }
    static D gather(const double* table, I at) {
        return _mm256_mask_i32gather_pd(_mm256_setzero_pd(), table, at, _mm256_castsi256_pd(ones()), 8);
    }
    static D dsplat(double x) { return _mm256_set1_pd(x); }
    static D dadd(D a, D b) { return _mm256_add_pd(a, b); }
    static D dsub(D a, D b) { return _mm256_sub_pd(a, b); }
    static D dmul(D a, D b) { return _mm256_mul_pd(a, b); }
    static D ddiv(D a, D b) { return _mm256_div_pd(a, b); }
    static D dless(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_LT_OQ); }
    static D dequal(D a, D b) { return _mm256_cmp_pd(a, b, _CMP_EQ_OQ); }
    static D dselect(D where, D if_true, D if_false) { return _mm256_blendv_pd(if_false, if_true, where); }
    static void dstore(double* to, D v) { _mm256_storeu_pd(to, v); }
};

}  // namespace

constinit const LaneKernels kAvx2LaneKernels = {"avx2",
            256,
            {merged_pass_block<Avx2Ops<8>>, merged_pass_block<Avx2Ops<16>>, merged_pass_block<Avx2Ops<32>>,
             merged_pass_block<Avx2Ops<64>>}};

}  // namespace pelgar::measures::lanes

#else

namespace pelgar::measures::lanes {
constinit const LaneKernels kAvx2LaneKernels = {"avx2", 256, {}};
}  // namespace pelgar::measures::lanes

#endif
