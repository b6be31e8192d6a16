#pragma once

#include <vector>

#include "measures/lanes/lane_types.hpp"

namespace pelgar::measures::lanes {

// Each build of the merged pass, or nullptr where this build of the module lacks it. Only
// the dispatch (and tests) call these; whether the processor can run one is its business.
LaneKernel portable_lane_kernel();
LaneKernel sse2_lane_kernel();
LaneKernel avx2_lane_kernel();

}  // namespace pelgar::measures::lanes


namespace pelgar::measures::lanes {

// The fastest build that this processor runs: AVX2, else SSE2, else portable. Chosen once.
LaneKernel chosen_lane_kernel();

struct NamedLaneKernel {
    const char* name;
    LaneKernel kernel;
};

// Every build that this module has and this processor runs, the portable one first.
std::vector<NamedLaneKernel> runnable_lane_kernels();

}  // namespace pelgar::measures::lanes
