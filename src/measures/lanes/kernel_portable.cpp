// The merged pass one lane at a time in plain C++: every processor, and the reference for
// the vectorised builds.
#include "measures/lanes/lane_kernel.hpp"
#include "measures/lanes/lane_kernels.hpp"

namespace pelgar::measures::lanes {
namespace {

struct PortableOps {
    using V = std::uint64_t;
    static constexpr std::size_t kWidth = 1;

    static V load(const std::uint64_t* from) { return *from; }
    static void store(std::uint64_t* to, V v) { *to = v; }
    static V splat(std::uint64_t x) { return x; }
    static V zero() { return 0; }
    static V bit_and(V a, V b) { return a & b; }
    static V bit_or(V a, V b) { return a | b; }
    static V bit_xor(V a, V b) { return a ^ b; }
    static V and_not(V a, V b) { return ~a & b; }
    static V add(V a, V b) { return a + b; }
    static V sub(V a, V b) { return a - b; }
    template <int kBits>
    static V shift_left(V a) { return a << kBits; }
    template <int kBits>
    static V shift_right(V a) { return a >> kBits; }
    // All ones where the lane is zero.
    static V is_zero(V a) { return V{0} - static_cast<V>(a == 0); }
};

}  // namespace

LaneKernel portable_lane_kernel() { return merged_pass_group<PortableOps>; }

}  // namespace pelgar::measures::lanes
