#include "matching/rank_matches.hpp"

#include <algorithm>

#include "common/stop.hpp"

namespace pelgar::matching {

namespace {

// Rankings shorter than this sort within a few milliseconds, with no poll in the comparison.
constexpr std::size_t kPolledSort = std::size_t{1} << 18;

}  // namespace

RankingSearch::RankingSearch(std::u32string_view query)
    : normalized_query_(text::normalize(query)), scorer_(normalized_query_) {}

std::vector<Match> RankingSearch::ranking() && {
    scorer_.flush(Record{ranking_});
    const auto better = [](const Match& x, const Match& y) { return x.score > y.score; };
    if (ranking_.size() < kPolledSort) {
        std::stable_sort(ranking_.begin(), ranking_.end(), better);
    } else {
        // Sorting millions of matches takes seconds too, so it polls as well.
        StopPoll poll;
        std::stable_sort(ranking_.begin(), ranking_.end(), [&](const Match& x, const Match& y) {
            poll();
            return better(x, y);
        });
    }
    return std::move(ranking_);
}

}  // namespace pelgar::matching
