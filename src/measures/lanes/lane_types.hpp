#pragma once

#include <cstddef>
#include <cstdint>

// What the vectorised merged pass reads and writes: plain data only, since the files that
// include this are built for different instruction sets and must share no inline code.
namespace pelgar::measures::lanes {

// Candidates scored side by side in one group, whatever the instruction set.
inline constexpr std::size_t kGroupLanes = 4;
// The longest query and candidate of the merged pass, one bit each in a 64-bit word.
inline constexpr std::size_t kMaxLength = 64;

struct LaneQuery {
    std::size_t length;          // 1 to kMaxLength
    const std::uint8_t* rows;    // rows[j]: the 1-based row of the query's character j
    bool distinct_trigrams;      // no trigram occurs twice in the query
};

// The candidates of a group as masks: eq[row][lane] has bit k set exactly when character k
// of that lane's candidate is the query's character of that row.
struct LaneInput {
    const std::uint64_t (*eq)[kGroupLanes];
    std::uint64_t window_start[kGroupLanes];  // bits from the lane's match window on
    std::uint64_t window_below[kGroupLanes];  // bits below the window plus one
};

// Per lane, what the score is made from.
struct LaneCounts {
    std::uint64_t vp[kGroupLanes];          // last column of the edit distance, +1 steps
    std::uint64_t vn[kGroupLanes];          // and -1 steps
    std::uint64_t unmatched[kGroupLanes];   // query characters that found no match
    std::uint64_t mismatched[kGroupLanes];  // matched characters out of order (twice the transpositions)
    std::uint64_t diagonal[kGroupLanes];    // bit p: the characters at p are equal
    std::uint64_t untrigrammed[kGroupLanes]; // query positions whose trigram found no partner
};

using LaneKernel = void (*)(const LaneQuery&, const LaneInput&, LaneCounts&);

}  // namespace pelgar::measures::lanes
