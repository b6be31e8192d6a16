#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "matching/match.hpp"
#include "measures/grouped_scorer.hpp"
#include "text/normalize.hpp"

namespace pelgar::matching {

// Every candidate as passed, offered one at a time in input order, normalised and scored
// against the normalised query; the ranking is by descending score, stable, so equal scores
// keep the input order. No threshold here.
class RankingSearch {
public:
    explicit RankingSearch(std::u32string_view query);
    RankingSearch(const RankingSearch&) = delete;  // the scorer is built from the query
    RankingSearch& operator=(const RankingSearch&) = delete;

    void reserve(std::size_t candidates) { ranking_.reserve(candidates); }
    // The candidate's index is the number of candidates offered before it.
    void offer(std::u32string_view candidate) {
        const std::size_t index = ranking_.size();
        ranking_.push_back(Match{index, 0.0});  // its score may come with a later candidate's
        scorer_.offer(index, candidate_.normalize(candidate), Record{ranking_});
    }
    // Sorts what was offered; the search is spent afterwards.
    std::vector<Match> ranking() &&;

private:
    struct Record {
        std::vector<Match>& ranking;
        void operator()(std::size_t index, double score) const { ranking[index].score = score; }
    };

    const std::u32string normalized_query_;
    measures::GroupedScorer scorer_;
    text::NormalizedBuffer candidate_;
    std::vector<Match> ranking_;
};

}  // namespace pelgar::matching
