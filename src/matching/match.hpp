#pragma once

#include <cstddef>

namespace pelgar::matching {

// A scored candidate, by its position in the candidate list.
struct Match {
    std::size_t index;
    double score;
};

// A match qualifies when score >= threshold, so a NaN threshold lets nothing through.
inline bool reaches(const Match& match, double threshold) { return match.score >= threshold; }

}  // namespace pelgar::matching
