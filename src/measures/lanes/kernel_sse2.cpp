// The merged pass over 128-bit vectors: SSE2, which every x86-64 processor has.
#include "measures/lanes/lane_kernels.hpp"

#if !defined(PELGAR_SCALAR_KERNELS) && defined(__SSE2__)
#include <emmintrin.h>

#include <cstring>

#include "measures/lanes/lane_kernel.hpp"

namespace pelgar::measures::lanes {
namespace {

template <std::size_t kLaneBits>
struct Sse2Ops {
    static constexpr std::size_t kBits = kLaneBits;
    static constexpr std::size_t kLanes = 128 / kBits;
    static constexpr bool kTernary = false;
    using V = __m128i;
    using Word = LaneWord<kBits>;

    static V load(const void* from) { return _mm_loadu_si128(static_cast<const __m128i*>(from)); }
    static V load_row(const std::uint8_t* from) { return load(from); }
    static void store(void* to, V v) { _mm_storeu_si128(static_cast<__m128i*>(to), v); }
    static V splat(std::uint64_t x) {
        if constexpr (kBits == 8) return _mm_set1_epi8(static_cast<char>(x));
        else if constexpr (kBits == 16) return _mm_set1_epi16(static_cast<short>(x));
        else if constexpr (kBits == 32) return _mm_set1_epi32(static_cast<int>(x));
        else return _mm_set1_epi64x(static_cast<long long>(x));
    }
    static V zero() { return _mm_setzero_si128(); }
    static V ones() { return _mm_set1_epi32(-1); }
    static V bit_and(V a, V b) { return _mm_and_si128(a, b); }
    static V bit_or(V a, V b) { return _mm_or_si128(a, b); }
    static V bit_xor(V a, V b) { return _mm_xor_si128(a, b); }
    static V and_not(V a, V b) { return _mm_andnot_si128(a, b); }
    static V add(V a, V b) {
        if constexpr (kBits == 8) return _mm_add_epi8(a, b);
        else if constexpr (kBits == 16) return _mm_add_epi16(a, b);
        else if constexpr (kBits == 32) return _mm_add_epi32(a, b);
        else return _mm_add_epi64(a, b);
    }
    static V sub(V a, V b) {
        if constexpr (kBits == 8) return _mm_sub_epi8(a, b);
        else if constexpr (kBits == 16) return _mm_sub_epi16(a, b);
        else if constexpr (kBits == 32) return _mm_sub_epi32(a, b);
        else return _mm_sub_epi64(a, b);
    }
    static V shift_left_1(V a) { return add(a, a); }
    // No 8-bit shift: 16-bit lanes pull the next byte's lowest bit into each byte's top.
    static V shift_right_1(V a) {
        if constexpr (kBits <= 16) return _mm_srli_epi16(a, 1);
        else if constexpr (kBits == 32) return _mm_srli_epi32(a, 1);
        else return _mm_srli_epi64(a, 1);
    }
    static V is_zero(V a) {
        if constexpr (kBits == 8) return _mm_cmpeq_epi8(a, zero());
        else if constexpr (kBits == 16) return _mm_cmpeq_epi16(a, zero());
        else if constexpr (kBits == 32) return _mm_cmpeq_epi32(a, zero());
        else {
            // SSE2 compares 32-bit halves only: a 64-bit lane is zero when both of its halves are.
            const V halves = _mm_cmpeq_epi32(a, zero());
            return _mm_and_si128(halves, _mm_shuffle_epi32(halves, _MM_SHUFFLE(2, 3, 0, 1)));
        }
    }
    static V count_zero(V counter, V x) { return sub(counter, is_zero(x)); }
    // Bits per byte by halves, quarters and nibbles (no byte shuffle in SSE2), then summed up to the lane.
    static V popcount(V a) {
        V x = _mm_sub_epi8(a, _mm_and_si128(_mm_srli_epi16(a, 1), _mm_set1_epi8(0x55)));
        x = _mm_add_epi8(_mm_and_si128(x, _mm_set1_epi8(0x33)), _mm_and_si128(_mm_srli_epi16(x, 2), _mm_set1_epi8(0x33)));
        const V bytes = _mm_and_si128(_mm_add_epi8(x, _mm_srli_epi16(x, 4)), _mm_set1_epi8(0x0F));
        if constexpr (kBits == 8) return bytes;
        if constexpr (kBits == 64) return _mm_sad_epu8(bytes, zero());
        const V pairs = _mm_add_epi16(_mm_and_si128(bytes, _mm_set1_epi16(0xFF)), _mm_srli_epi16(bytes, 8));
        if constexpr (kBits == 16) return pairs;
        else return _mm_madd_epi16(pairs, _mm_set1_epi16(1));
    }
    static void equal_masks(const std::uint8_t* codes, std::uint8_t code, std::uint8_t* row) {
        const V wanted = _mm_set1_epi8(static_cast<char>(code));
        for (std::size_t i = 0; i < kBlockCodes / 16; ++i) {
            const auto bits = static_cast<std::uint16_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(load(codes + 16 * i), wanted)));
            std::memcpy(row + 2 * i, &bits, 2);
        }
    }

    // Two lane values as integers: SSE2 has no gather, and these are looked up one by one.
    struct I {
        int low, high;
    };
    using D = __m128d;
    static constexpr std::size_t kDoubles = 2;
    template <class T>
    static I ints(const T* from) { return {static_cast<int>(from[0]), static_cast<int>(from[1])}; }
    static I isplat(int x) { return {x, x}; }
    static I iadd(I a, I b) { return {a.low + b.low, a.high + b.high}; }
    static I imax(I a, I b) { return {a.low < b.low ? b.low : a.low, a.high < b.high ? b.high : a.high}; }
    static I index(I row, std::size_t stride, I column) {
        const int s = static_cast<int>(stride);
        return {row.low * s + column.low, row.high * s + column.high};
    }
    static D to_doubles(I a) { return _mm_cvtepi32_pd(_mm_set_epi32(0, 0, a.high, a.low)); }
    static D gather(const double* table, I at) { return _mm_set_pd(table[at.high], table[at.low]); }
    static D dsplat(double x) { return _mm_set1_pd(x); }
    static D dadd(D a, D b) { return _mm_add_pd(a, b); }
    static D dsub(D a, D b) { return _mm_sub_pd(a, b); }
    static D dmul(D a, D b) { return _mm_mul_pd(a, b); }
    static D ddiv(D a, D b) { return _mm_div_pd(a, b); }
    static D dless(D a, D b) { return _mm_cmplt_pd(a, b); }
    static D dequal(D a, D b) { return _mm_cmpeq_pd(a, b); }
    static D dselect(D where, D if_true, D if_false) {
        return _mm_or_pd(_mm_and_pd(where, if_true), _mm_andnot_pd(where, if_false));
    }
    static void dstore(double* to, D v) { _mm_storeu_pd(to, v); }
};

}  // namespace

constinit const LaneKernels kSse2LaneKernels = {"sse2",
            128,
            {merged_pass_block<Sse2Ops<8>>, merged_pass_block<Sse2Ops<16>>, merged_pass_block<Sse2Ops<32>>,
             merged_pass_block<Sse2Ops<64>>}};

}  // namespace pelgar::measures::lanes

#else

namespace pelgar::measures::lanes {
constinit const LaneKernels kSse2LaneKernels = {"sse2", 128, {}};
}  // namespace pelgar::measures::lanes

#endif
