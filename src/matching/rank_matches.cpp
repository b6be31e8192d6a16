#include "matching/rank_matches.hpp"

#include <algorithm>
#include <string>

#include "common/stop.hpp"
#include "matching/best_of.hpp"
#include "measures/grouped_scorer.hpp"
#include "text/normalize.hpp"

namespace pelgar::matching {

namespace {

// Rankings shorter than this sort within a few milliseconds, with no poll in the comparison.
constexpr std::size_t kPolledSort = std::size_t{1} << 18;

}  // namespace

std::vector<Match> rank_all(std::string_view query, const TextList& candidates) {
    std::u32string normalized_query, normalized_candidate;
    text::normalize_into(query, normalized_query);
    measures::GroupedScorer scorer(normalized_query);
    std::vector<Match> ranking(candidates.size());
    const auto record = [&](std::size_t i, double score) { ranking[i] = Match{i, score}; };
    StopPoll poll;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        poll(candidate_work(candidates[i].size()));
        text::normalize_into(candidates[i], normalized_candidate);
        scorer.offer(i, normalized_candidate, record);
    }
    scorer.flush(record);
    const auto better = [](const Match& x, const Match& y) { return x.score > y.score; };
    if (ranking.size() < kPolledSort) {
        std::stable_sort(ranking.begin(), ranking.end(), better);
    } else {
        // Sorting millions of matches takes seconds too, so it polls as well.
        std::stable_sort(ranking.begin(), ranking.end(), [&](const Match& x, const Match& y) {
            poll();
            return better(x, y);
        });
    }
    return ranking;
}

}  // namespace pelgar::matching
