// The merged pass one lane at a time in plain C++: every processor, and the reference for
// the vectorised builds.
#include <bit>

#include "measures/lanes/lane_kernel.hpp"
#include "measures/lanes/lane_kernels.hpp"

namespace pelgar::measures::lanes {
namespace {

template <std::size_t kLaneBits>
struct PortableOps {
    static constexpr std::size_t kBits = kLaneBits;
    static constexpr std::size_t kLanes = 1;
    static constexpr bool kTernary = false;
    using V = LaneWord<kBits>;

    static V load(const V* from) { return *from; }
    // A lane of a mask row, whose byte i holds the bits of codes 8i to 8i + 7.
    static V load_row(const std::uint8_t* from) {
        V v = 0;
        for (std::size_t i = 0; i < kBits / 8; ++i) v = static_cast<V>(v | (V{from[i]} << (8 * i)));
        return v;
    }
    static void store(V* to, V v) { *to = v; }
    static V splat(std::uint64_t x) { return static_cast<V>(x); }
    static V zero() { return 0; }
    static V ones() { return static_cast<V>(~V{0}); }
    static V bit_and(V a, V b) { return a & b; }
    static V bit_or(V a, V b) { return a | b; }
    static V bit_xor(V a, V b) { return a ^ b; }
    static V and_not(V a, V b) { return static_cast<V>(~a & b); }
    static V add(V a, V b) { return static_cast<V>(a + b); }
    static V sub(V a, V b) { return static_cast<V>(a - b); }
    static V shift_left_1(V a) { return static_cast<V>(a << 1); }
    static V shift_right_1(V a) { return static_cast<V>(a >> 1); }
    static V is_zero(V a) { return a == 0 ? ones() : zero(); }
    static V count_zero(V counter, V x) { return static_cast<V>(counter + (x == 0)); }
    static V popcount(V a) { return static_cast<V>(std::popcount(a)); }
    static void equal_masks(const std::uint8_t* codes, std::uint8_t code, std::uint8_t* row) {
        for (std::size_t i = 0; i < kRowBytes; ++i) {
            unsigned bits = 0;
            for (unsigned k = 0; k < 8; ++k) bits |= unsigned{codes[8 * i + k] == code} << k;
            row[i] = static_cast<std::uint8_t>(bits);
        }
    }

    using I = int;
    using D = double;
    static constexpr std::size_t kDoubles = 1;
    template <class T>
    static I ints(const T* from) { return static_cast<int>(*from); }
    static I isplat(int x) { return x; }
    static I iadd(I a, I b) { return a + b; }
    static I imax(I a, I b) { return a < b ? b : a; }
    static I index(I row, std::size_t stride, I column) { return row * static_cast<int>(stride) + column; }
    static D to_doubles(I a) { return static_cast<double>(a); }
    static D gather(const double* table, I at) { return table[at]; }
    static D dsplat(double x) { return x; }
    static D dadd(D a, D b) { return a + b; }
    static D dsub(D a, D b) { return a - b; }
    static D dmul(D a, D b) { return a * b; }
    static D ddiv(D a, D b) { return a / b; }
    static bool dless(D a, D b) { return a < b; }
    static bool dequal(D a, D b) { return a == b; }
    static D dselect(bool where, D if_true, D if_false) { return where ? if_true : if_false; }
    static void dstore(double* to, D v) { *to = v; }
};

}  // namespace

constinit const LaneKernels kPortableLaneKernels = {"portable",
            64,
            {merged_pass_block<PortableOps<8>>, merged_pass_block<PortableOps<16>>, merged_pass_block<PortableOps<32>>,
             merged_pass_block<PortableOps<64>>}};

}  // namespace pelgar::measures::lanes
