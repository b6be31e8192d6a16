#include "measures/lanes/lane_kernels.hpp"

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#include <cpuid.h>
#define PELGAR_X86_DISPATCH 1
#endif

namespace pelgar::measures::lanes {

namespace {

#ifdef PELGAR_X86_DISPATCH
// The processor has the instructions, and the operating system saves the opmask and
// all 512 bits of the 32 vector registers on a switch (XCR0 bits 1, 2, 5, 6 and 7).
bool processor_runs_avx512() {
    __builtin_cpu_init();
    if (!__builtin_cpu_supports("avx512f") || !__builtin_cpu_supports("avx512bw") ||
        !__builtin_cpu_supports("avx512vl"))
        return false;
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx) || (ecx & bit_OSXSAVE) == 0) return false;
    unsigned xcr0_low = 0, xcr0_high = 0;
    __asm__("xgetbv" : "=a"(xcr0_low), "=d"(xcr0_high) : "c"(0));
    return (xcr0_low & 0xE6) == 0xE6;
}
bool processor_runs_avx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}
#else
bool processor_runs_avx512() { return false; }
bool processor_runs_avx2() { return false; }
#endif

bool built(const LaneKernels& kernels) { return kernels.by_width[0] != nullptr; }

}  // namespace

std::vector<LaneKernels> runnable_lane_kernels() {
    std::vector<LaneKernels> kernels{kPortableLaneKernels};
    if (built(kSse2LaneKernels)) kernels.push_back(kSse2LaneKernels);
    if (built(kAvx2LaneKernels) && processor_runs_avx2()) kernels.push_back(kAvx2LaneKernels);
    if (built(kAvx512LaneKernels) && processor_runs_avx512()) kernels.push_back(kAvx512LaneKernels);
    return kernels;
}

const LaneKernels& chosen_lane_kernels() {
    static const LaneKernels chosen = runnable_lane_kernels().back();
    return chosen;
}

}  // namespace pelgar::measures::lanes
