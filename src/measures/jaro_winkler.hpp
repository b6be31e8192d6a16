#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "measures/kernel_support.hpp"
#include "measures/score_weights.hpp"

namespace pelgar::measures {

// Jaro-Winkler similarity with the first string fixed, for scoring one query against
// many candidates: score(b) is bit for bit jaro_winkler_score(a, b). The matching is
// bit-parallel over the positions of b; when one mask per distinct character of a would
// take more than linear memory, it walks per-character position lists of b instead.
// Either works in scratch that the object owns, so score() is not const and an object
// serves one thread at a time.
// Strings of up to 64 characters need no heap allocation, neither here nor per score.
class JaroWinklerPattern {
public:
    explicit JaroWinklerPattern(std::u32string_view a);

    double score(std::u32string_view b);

private:
    double finish(std::uint64_t matches, std::uint64_t mismatched, std::u32string_view b) const;
    // Fills one position mask of b per row, `words` words each; returns the masks.
    std::uint64_t* fill_masks(std::u32string_view b, std::size_t words);
    double score_short(std::u32string_view b, std::size_t window);
    double score_long(std::u32string_view b, std::size_t window);
    double score_by_positions(std::u32string_view b, std::size_t window);
    // Matched characters of b in position order against those of a in match order.
    double count_transpositions(std::size_t matches, std::u32string_view b) const;

    std::size_t n_ = 0;
    kernel::SmallBuffer<char32_t, 64> chars_;
    // One row per distinct character of a, from 1; characters that a lacks get row 0,
    // which soaks up their positions, so filling the masks needs no branch.
    kernel::CharTable<std::uint32_t> row_of_;
    std::uint32_t rows_ = 1;
    kernel::SmallBuffer<std::uint32_t, 64> rows_of_a_;  // the row of each position of a

    // Per-score scratch: one position mask of b per row (several words each for a long b),
    // the flagged positions of b and the matched characters of a.
    kernel::SmallBuffer<std::uint64_t, 65> masks_;
    kernel::SmallBuffer<std::uint64_t, 1> flags_;
    kernel::SmallBuffer<char32_t, 1> matched_;
    // Per-score scratch of the position lists: b's row per position, then per row its
    // positions in order and a cursor into them.
    std::vector<std::uint32_t> b_rows_;
    std::vector<std::size_t> positions_;
    std::vector<std::size_t> starts_;
    std::vector<std::size_t> cursors_;
};

// How far from a character's own position an equal one still counts as a match, for
// strings of n and m characters: max(n, m) / 2 - 1, and never below 0.
inline std::size_t match_window(std::size_t n, std::size_t m) {
    const std::size_t half = (n > m ? n : m) / 2;
    return half >= 1 ? half - 1 : 0;
}

// The last steps from the three quotients u = (M - X/2) / M, r1 = M / n and r2 = M / m,
// each already rounded, and `prefix` <= 4 equal leading characters.
inline double jaro_winkler_from_quotients(double u, double r1, double r2, std::size_t prefix) {
    // Every step below is one rounding in a fixed order; regrouping changes the last bit.
    const double s = r2 + r1;
    const double jaro = (u + s) / 3.0;
    return ((1.0 - jaro) * weights::kPrefixBoost[prefix]) + jaro;
}

// The similarity from its counts: `matches` > 0 matched pairs of which `mismatched` are
// out of order, string lengths n and m, and `prefix` <= 4 equal leading characters.
double jaro_winkler_from_counts(std::uint64_t matches, std::uint64_t mismatched, std::size_t n, std::size_t m,
                                std::size_t prefix);

// Jaro-Winkler similarity with greedy first-fit matching driven by the first string.
double jaro_winkler_score(std::u32string_view a, std::u32string_view b);

}  // namespace pelgar::measures
