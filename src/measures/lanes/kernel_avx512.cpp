// The merged pass over 512-bit vectors: a whole block in one vector, 8 to 64 candidates.
// Built with AVX-512 (F, BW, VL) enabled for this file alone and called only on
// processors that have it, so nothing here may be shared with other files: the kernel's
// templates are instantiated with types of this file only.
#include "measures/lanes/lane_kernels.hpp"

#if !defined(PELGAR_SCALAR_KERNELS) && defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512VL__)
// GCC 12's AVX-512 intrinsics start from deliberately undefined vectors, which its
// uninitialised-use warnings report as if they were this file's.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

#include "measures/lanes/lane_kernel.hpp"

namespace pelgar::measures::lanes {
namespace {

template <std::size_t kLaneBits>
struct Avx512Ops {
    static constexpr std::size_t kBits = kLaneBits;
    static constexpr std::size_t kLanes = 512 / kBits;
    static constexpr bool kTernary = true;
    using V = __m512i;
    using Word = LaneWord<kBits>;

    static V load(const void* from) { return _mm512_loadu_si512(from); }
    static V load_row(const std::uint8_t* from) { return _mm512_loadu_si512(from); }
    static void store(void* to, V v) { _mm512_storeu_si512(to, v); }
    static V splat(std::uint64_t x) {
        if constexpr (kBits == 8) return _mm512_set1_epi8(static_cast<char>(x));
        else if constexpr (kBits == 16) return _mm512_set1_epi16(static_cast<short>(x));
        else if constexpr (kBits == 32) return _mm512_set1_epi32(static_cast<int>(x));
        else return _mm512_set1_epi64(static_cast<long long>(x));
    }
    static V zero() { return _mm512_setzero_si512(); }
    static V ones() { return _mm512_set1_epi64(-1); }
    static V bit_and(V a, V b) { return _mm512_and_si512(a, b); }
    static V bit_or(V a, V b) { return _mm512_or_si512(a, b); }
    static V bit_xor(V a, V b) { return _mm512_xor_si512(a, b); }
    static V and_not(V a, V b) { return _mm512_andnot_si512(a, b); }
    template <int kTable>
    static V ternary(V a, V b, V c) { return _mm512_ternarylogic_epi64(a, b, c, kTable); }
    static V add(V a, V b) {
        if constexpr (kBits == 8) return _mm512_add_epi8(a, b);
        else if constexpr (kBits == 16) return _mm512_add_epi16(a, b);
        else if constexpr (kBits == 32) return _mm512_add_epi32(a, b);
        else return _mm512_add_epi64(a, b);
    }
    static V sub(V a, V b) {
        if constexpr (kBits == 8) return _mm512_sub_epi8(a, b);
        else if constexpr (kBits == 16) return _mm512_sub_epi16(a, b);
        else if constexpr (kBits == 32) return _mm512_sub_epi32(a, b);
        else return _mm512_sub_epi64(a, b);
    }
    static V shift_left_1(V a) { return add(a, a); }
    // No 8-bit shift: 16-bit lanes pull the next byte's lowest bit into each byte's top.
    static V shift_right_1(V a) {
        if constexpr (kBits <= 16) return _mm512_srli_epi16(a, 1);
        else if constexpr (kBits == 32) return _mm512_srli_epi32(a, 1);
        else return _mm512_srli_epi64(a, 1);
    }
    static auto zero_lanes(V a) {
        if constexpr (kBits == 8) return _mm512_testn_epi8_mask(a, a);
        else if constexpr (kBits == 16) return _mm512_testn_epi16_mask(a, a);
        else if constexpr (kBits == 32) return _mm512_testn_epi32_mask(a, a);
        else return _mm512_testn_epi64_mask(a, a);
    }
    static V is_zero(V a) {
        if constexpr (kBits == 8) return _mm512_movm_epi8(zero_lanes(a));
        else if constexpr (kBits == 16) return _mm512_movm_epi16(zero_lanes(a));
        else if constexpr (kBits == 32) return _mm512_maskz_mov_epi32(zero_lanes(a), ones());
        else return _mm512_maskz_mov_epi64(zero_lanes(a), ones());
    }
    static V count_zero(V counter, V x) { return add_where(counter, zero_lanes(x)); }
    // One test does the AND.
    static V count_zero_and(V counter, V a, V b) {
        if constexpr (kBits == 8) return add_where(counter, _mm512_testn_epi8_mask(a, b));
        else if constexpr (kBits == 16) return add_where(counter, _mm512_testn_epi16_mask(a, b));
        else if constexpr (kBits == 32) return add_where(counter, _mm512_testn_epi32_mask(a, b));
        else return add_where(counter, _mm512_testn_epi64_mask(a, b));
    }
    // Masked instructions keep the lowest bits only where `where` has any.
    static V lowest_where(V x, V where) {
        const V negated = sub(zero(), x);
        if constexpr (kBits == 8) return _mm512_maskz_mov_epi8(_mm512_test_epi8_mask(where, where), _mm512_and_si512(x, negated));
        else if constexpr (kBits == 16) return _mm512_maskz_mov_epi16(_mm512_test_epi16_mask(where, where), _mm512_and_si512(x, negated));
        else if constexpr (kBits == 32) return _mm512_maskz_and_epi32(_mm512_test_epi32_mask(where, where), x, negated);
        else return _mm512_maskz_and_epi64(_mm512_test_epi64_mask(where, where), x, negated);
    }
    template <class Mask>
    static V add_where(V counter, Mask where) {
        if constexpr (kBits == 8) return _mm512_mask_add_epi8(counter, where, counter, splat(1));
        else if constexpr (kBits == 16) return _mm512_mask_add_epi16(counter, where, counter, splat(1));
        else if constexpr (kBits == 32) return _mm512_mask_add_epi32(counter, where, counter, splat(1));
        else return _mm512_mask_add_epi64(counter, where, counter, splat(1));
    }
    // Bits per byte from a table of the 16 nibbles, then summed up to the lane.
    static V popcount(V a) {
        const V table = _mm512_broadcast_i32x4(_mm_setr_epi8(0, 1, 1, 2, 1, 2, 2, 3, 1, 2, 2, 3, 2, 3, 3, 4));
        const V nibble = _mm512_set1_epi8(0x0F);
        const V bytes = _mm512_add_epi8(_mm512_shuffle_epi8(table, _mm512_and_si512(a, nibble)),
                                        _mm512_shuffle_epi8(table, _mm512_and_si512(_mm512_srli_epi16(a, 4), nibble)));
        if constexpr (kBits == 8) return bytes;
        if constexpr (kBits == 64) return _mm512_sad_epu8(bytes, zero());
        const V pairs = _mm512_add_epi16(_mm512_and_si512(bytes, _mm512_set1_epi16(0xFF)), _mm512_srli_epi16(bytes, 8));
        if constexpr (kBits == 16) return pairs;
        else return _mm512_madd_epi16(pairs, _mm512_set1_epi16(1));
    }
    static void equal_masks(const std::uint8_t* codes, std::uint8_t code, std::uint8_t* row) {
        const V wanted = _mm512_set1_epi8(static_cast<char>(code));
        for (std::size_t i = 0; i < kBlockCodes / 64; ++i)
            _store_mask64(reinterpret_cast<__mmask64*>(row + 8 * i), _mm512_cmpeq_epi8_mask(load(codes + 64 * i), wanted));
    }

    using I = __m256i;
    using D = __m512d;
    static constexpr std::size_t kDoubles = 8;
    // Eight lane values as 32-bit integers.
    template <class T>
    static I ints(const T* from) {
        if constexpr (sizeof(T) == 1) return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(from)));
        else if constexpr (sizeof(T) == 2) return _mm256_cvtepu16_epi32(_mm_loadu_si128(reinterpret_cast<const __m128i*>(from)));
        else if constexpr (sizeof(T) == 4) return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(from));
        else return _mm512_cvtepi64_epi32(_mm512_loadu_si512(from));
    }
    static I isplat(int x) { return _mm256_set1_epi32(x); }
    static I iadd(I a, I b) { return _mm256_add_epi32(a, b); }
    static I imax(I a, I b) { return _mm256_max_epi32(a, b); }
    static I index(I row, std::size_t stride, I column) {
        return _mm256_add_epi32(_mm256_mullo_epi32(row, isplat(static_cast<int>(stride))), column);
    }
    static D to_doubles(I a) { return _mm512_cvtepi32_pd(a); }
    static D gather(const double* table, I at) { return _mm512_mask_i32gather_pd(_mm512_setzero_pd(), 0xFF, at, table, 8); }
    // Entries 0 to 15 of a table, permuted out of two registers.
    static D permuted(const double* table, I at) {
        return _mm512_permutex2var_pd(_mm512_loadu_pd(table), _mm512_cvtepu32_epi64(at), _mm512_loadu_pd(table + 8));
    }
    // Entries 0 to 16: the last one where the index is 16.
    static D permuted_17(const double* table, I at) {
        const __mmask8 last = _mm256_cmpeq_epi32_mask(at, isplat(16));
        return _mm512_mask_mov_pd(permuted(table, at), last, _mm512_set1_pd(table[16]));
    }
    static D dsplat(double x) { return _mm512_set1_pd(x); }
    static D dadd(D a, D b) { return _mm512_add_pd(a, b); }
    static D dsub(D a, D b) { return _mm512_sub_pd(a, b); }
    static D dmul(D a, D b) { return _mm512_mul_pd(a, b); }
    static D ddiv(D a, D b) { return _mm512_div_pd(a, b); }
    static __mmask8 dless(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_LT_OQ); }
    static __mmask8 dequal(D a, D b) { return _mm512_cmp_pd_mask(a, b, _CMP_EQ_OQ); }
    static D dselect(__mmask8 where, D if_true, D if_false) { return _mm512_mask_blend_pd(where, if_false, if_true); }
    static void dstore(double* to, D v) { _mm512_storeu_pd(to, v); }
};

// Tells a reader of the module's binary (the benchmarks) that this build is in it.
[[gnu::used]] const char kBuiltMark[] = "pelgar lane kernels: avx512 built";

}  // namespace

constinit const LaneKernels kAvx512LaneKernels = {"avx512",
            512,
            {merged_pass_block<Avx512Ops<8>>, merged_pass_block<Avx512Ops<16>>, merged_pass_block<Avx512Ops<32>>,
             merged_pass_block<Avx512Ops<64>>}};

}  // namespace pelgar::measures::lanes

#else

namespace pelgar::measures::lanes {
constinit const LaneKernels kAvx512LaneKernels = {"avx512", 512, {}};
}  // namespace pelgar::measures::lanes

#endif
