#include "join/self_join_prefix.hpp"

#include <algorithm>

#include "matching/score_bound.hpp"

namespace pelgar::join {

std::vector<std::size_t> self_join_prefixes(const KeyGroups& keys, double threshold) {
    using matching::ScoreBound;
    std::vector<std::size_t> prefixes(keys.length_count(), 0);
    for (std::size_t g = 0; g < keys.length_count(); ++g) {
        const std::size_t m = keys.length_at(g);
        if (m < 3) continue;
        std::size_t least = ScoreBound::kUnreachable;
        for (std::size_t h = 0; h <= g && least != 0; ++h) {
            const std::size_t n = keys.length_at(h);
            if (n < 3 || ScoreBound::length_bound(n, m, ScoreBound::kUnknownShared) < threshold) continue;
            least = std::min(least, ScoreBound::min_shared_trigrams(n, m, threshold));
        }
        const std::size_t elements = m - 2;
        if (least != ScoreBound::kUnreachable) prefixes[g] = least == 0 ? elements : elements - std::min(least, elements) + 1;
    }
    return prefixes;
}

}  // namespace pelgar::join
