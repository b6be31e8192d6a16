#pragma once

#include <vector>

#include "measures/lanes/lane_types.hpp"

namespace pelgar::measures::lanes {

// Each build of the merged pass, its kernels null where this build of the module lacks it.
// Only the dispatch (and tests) call these; whether the processor can run one is its business.
LaneKernels portable_lane_kernels();
LaneKernels sse2_lane_kernels();
LaneKernels avx2_lane_kernels();
LaneKernels avx512_lane_kernels();

}  // namespace pelgar::measures::lanes


namespace pelgar::measures::lanes {

// The widest build that this processor runs: AVX-512, else AVX2, else SSE2, else portable.
// Chosen once.
const LaneKernels& chosen_lane_kernels();

// Every build that this module has and this processor runs, the portable one first.
std::vector<LaneKernels> runnable_lane_kernels();

}  // namespace pelgar::measures::lanes
