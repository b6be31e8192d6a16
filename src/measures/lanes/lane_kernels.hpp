#pragma once

#include <vector>

#include "measures/lanes/lane_types.hpp"

namespace pelgar::measures::lanes {

// Each build of the merged pass, its kernels null where this build of the module lacks it.
// Data made when the module is loaded, with no code run: the files of the wider builds
// hold nothing that a processor without their instructions may execute, and only the
// dispatch calls their kernels, once it knows that the processor runs them.
extern const LaneKernels kPortableLaneKernels;
extern const LaneKernels kSse2LaneKernels;
extern const LaneKernels kAvx2LaneKernels;
extern const LaneKernels kAvx512LaneKernels;

}  // namespace pelgar::measures::lanes


namespace pelgar::measures::lanes {

// The widest build that this processor runs: AVX-512, else AVX2, else SSE2, else portable.
// Chosen once.
const LaneKernels& chosen_lane_kernels();

// Every build that this module has and this processor runs, the portable one first.
std::vector<LaneKernels> runnable_lane_kernels();

}  // namespace pelgar::measures::lanes
