#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

// The constants of the combined score. The score and its upper bound both read them
// from here: a bound built on other values would prune candidates that can win.
namespace pelgar::measures::weights {

inline constexpr double kTrigram = 0.25;
inline constexpr double kJaroWinkler = 0.4;
inline constexpr double kEdit = 0.35;

// Equal leading characters that the Winkler boost counts at most.
inline constexpr std::size_t kMaxPrefix = 4;

// Boost factor by common-prefix length as exact bit patterns; 3 is the product 3 * 0.1.
inline constexpr double kPrefixBoost[kMaxPrefix + 1] = {
    std::bit_cast<double>(std::uint64_t{0x0000000000000000}), std::bit_cast<double>(std::uint64_t{0x3FB999999999999A}),
    std::bit_cast<double>(std::uint64_t{0x3FC999999999999A}), std::bit_cast<double>(std::uint64_t{0x3FD3333333333334}),
    std::bit_cast<double>(std::uint64_t{0x3FD999999999999A}),
};
static_assert(kPrefixBoost[1] == 0.1 && kPrefixBoost[2] == 0.2 && kPrefixBoost[4] == 0.4);
static_assert(kPrefixBoost[3] == 3 * 0.1 && kPrefixBoost[3] != 0.3);

}  // namespace pelgar::measures::weights
