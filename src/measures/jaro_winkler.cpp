#include "measures/jaro_winkler.hpp"

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelgar::measures {

namespace {

constexpr double from_bits(std::uint64_t bits) { return std::bit_cast<double>(bits); }

// Boost factor by common-prefix length, written as bit patterns so that no decimal
// rounding can creep in; the entry for 3 is the product 3 * 0.1, one ulp above 0.3.
constexpr double kPrefixBoost[5] = {
    from_bits(0x0000000000000000),
    from_bits(0x3FB999999999999A),
    from_bits(0x3FC999999999999A),
    from_bits(0x3FD3333333333334),
    from_bits(0x3FD999999999999A),
};
static_assert(kPrefixBoost[0] == 0.0);
static_assert(kPrefixBoost[1] == 0.1);
static_assert(kPrefixBoost[2] == 0.2);
static_assert(kPrefixBoost[3] == 3 * 0.1);
static_assert(kPrefixBoost[3] != 0.3);
static_assert(kPrefixBoost[4] == 0.4);

constexpr std::size_t kMaxPrefix = 4;

}  // namespace

double jaro_winkler_score(std::u32string_view a, std::u32string_view b) {
    const std::size_t n = a.size();
    const std::size_t m = b.size();
    if (n == 0) return m == 0 ? 1.0 : 0.0;
    if (m == 0) return 0.0;

    const std::size_t half = std::max(n, m) / 2;
    const std::size_t window = half >= 1 ? half - 1 : 0;

    std::vector<unsigned char> matched_a(n, 0);
    std::vector<unsigned char> matched_b(m, 0);
    std::uint64_t matches = 0;
    // Greedy first fit: each character of a takes the first free equal character of b
    // inside its window.
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t lo = j > window ? j - window : 0;
        const std::size_t hi = std::min(m, j + window + 1);
        for (std::size_t k = lo; k < hi; ++k) {
            if (!matched_b[k] && a[j] == b[k]) {
                matched_a[j] = 1;
                matched_b[k] = 1;
                ++matches;
                break;
            }
        }
    }
    if (matches == 0) return 0.0;

    // Matched characters of a in a's order against those of b in b's order.
    std::uint64_t mismatched = 0;
    std::size_t k = 0;
    for (std::size_t j = 0; j < n; ++j) {
        if (!matched_a[j]) continue;
        while (!matched_b[k]) ++k;
        if (a[j] != b[k]) ++mismatched;
        ++k;
    }

    // Every step below is one rounding in a fixed order; regrouping changes the last bit.
    const double md = static_cast<double>(matches);
    const double t = static_cast<double>(mismatched) * -0.5;
    const double u = (t + md) / md;
    const double r1 = md / static_cast<double>(n);
    const double r2 = md / static_cast<double>(m);
    const double s = r2 + r1;
    const double jaro = (u + s) / 3.0;

    const std::size_t limit = std::min({kMaxPrefix, n, m});
    std::size_t prefix = 0;
    while (prefix < limit && a[prefix] == b[prefix]) ++prefix;

    return ((1.0 - jaro) * kPrefixBoost[prefix]) + jaro;
}

}  // namespace pelgar::measures
