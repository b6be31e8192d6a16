#include "matching/best_match.hpp"

#include <string>

#include "common/stop.hpp"
#include "matching/best_of.hpp"
#include "text/normalize.hpp"

namespace pelgar::matching {

std::optional<Match> find_best_match(std::string_view query, const TextList& candidates) {
    std::u32string normalized_query, normalized_candidate;
    text::normalize_into(query, normalized_query);
    BestOf search(normalized_query);
    StopPoll poll;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        poll(candidate_work(candidates[i].size()));
        text::normalize_into(candidates[i], normalized_candidate);
        search.offer(i, normalized_candidate);
    }
    return search.best();
}

}  // namespace pelgar::matching
