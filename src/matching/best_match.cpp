#include "matching/best_match.hpp"

#include <string>

#include "measures/weighted_score.hpp"
#include "text/normalize.hpp"

namespace pelgar::matching {

std::optional<Match> find_best_match(std::string_view query, const TextList& candidates) {
    std::u32string normalized_query, normalized_candidate;
    text::normalize_into(query, normalized_query);
    std::optional<Match> best;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        text::normalize_into(candidates[i], normalized_candidate);
        const double score = measures::weighted_score(normalized_query, normalized_candidate);
        if (!best || score >= best->score) best = Match{i, score};
    }
    return best;
}

}  // namespace pelgar::matching
