#pragma once

#include <array>
#include <cstdint>
#include <string_view>
#include <vector>

namespace pelgar::matching {

// An upper bound of weighted_score(query, candidate) that is cheap to compute, for skipping
// candidates that cannot reach the running best. It never falls below the score: it is the
// exact bound plus a margin far larger than any rounding in either computation.
class ScoreBound {
public:
    explicit ScoreBound(std::u32string_view query);

    // Bound from the lengths alone; costs nothing per character.
    double from_lengths(std::u32string_view candidate) const;
    // Tighter: uses the characters the two strings have in common (as multisets).
    double from_characters(std::u32string_view candidate) const;

private:
    double bound(std::size_t m, std::size_t common, std::size_t prefix) const;
    std::size_t common_prefix(std::u32string_view candidate) const;

    std::u32string_view query_;
    std::array<std::uint32_t, 256> low_counts_{};  // query counts of the code points below 256
    std::vector<char32_t> high_chars_;              // the query's other code points, with repeats
    mutable std::array<std::uint32_t, 256> scratch_{};
    mutable std::vector<char32_t> high_scratch_;
};

}  // namespace pelgar::matching
