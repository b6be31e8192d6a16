#include "measures/lanes/lane_kernels.hpp"

namespace pelgar::measures::lanes {

namespace {

bool processor_runs_avx2() {
#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
    return __builtin_cpu_supports("avx2");
#else
    return false;
#endif
}

}  // namespace

std::vector<NamedLaneKernel> runnable_lane_kernels() {
    std::vector<NamedLaneKernel> kernels{{"portable", portable_lane_kernel()}};
    if (LaneKernel sse2 = sse2_lane_kernel()) kernels.push_back({"sse2", sse2});
    if (LaneKernel avx2 = avx2_lane_kernel(); avx2 && processor_runs_avx2()) kernels.push_back({"avx2", avx2});
    return kernels;
}

LaneKernel chosen_lane_kernel() {
    static const LaneKernel chosen = runnable_lane_kernels().back().kernel;
    return chosen;
}

}  // namespace pelgar::measures::lanes
