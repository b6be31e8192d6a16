#include "matching/rank_matches.hpp"

#include <algorithm>
#include <string>

#include "measures/weighted_score.hpp"
#include "text/normalize.hpp"

namespace pelgar::matching {

std::vector<Match> rank_all(std::string_view query, const TextList& candidates) {
    std::u32string normalized_query, normalized_candidate;
    text::normalize_into(query, normalized_query);
    measures::WeightedScorer scorer(normalized_query);
    std::vector<Match> ranking;
    ranking.reserve(candidates.size());
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        text::normalize_into(candidates[i], normalized_candidate);
        ranking.push_back(Match{i, scorer.score(normalized_candidate)});
    }
    std::stable_sort(ranking.begin(), ranking.end(),
                     [](const Match& x, const Match& y) { return x.score > y.score; });
    return ranking;
}

}  // namespace pelgar::matching
