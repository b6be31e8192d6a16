#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "matching/match.hpp"
#include "matching/score_bound.hpp"
#include "measures/weighted_score.hpp"

namespace pelgar::matching {

// The best-of rule over normalised candidates offered in input order: a score >= the
// running best replaces it, so the last of equal top scores wins. A candidate whose
// upper bound is below the running best cannot win and is not scored; a candidate that
// could tie is always scored. One thread at a time.
class BestOf {
public:
    explicit BestOf(std::u32string_view normalized_query) : scorer_(normalized_query), bound_(normalized_query) {}

    void offer(std::size_t index, std::u32string_view normalized_candidate) {
        if (best_ && bound_.upper_bound(normalized_candidate) < best_->score) {
            ++skipped_;
            return;
        }
        const double score = scorer_.score(normalized_candidate);
        if (!best_ || score >= best_->score) best_ = Match{index, score};
    }

    const std::optional<Match>& best() const noexcept { return best_; }
    // Candidates passed over unscored so far.
    std::size_t skipped() const noexcept { return skipped_; }

private:
    measures::WeightedScorer scorer_;
    ScoreBound bound_;
    std::optional<Match> best_;
    std::size_t skipped_ = 0;
};

}  // namespace pelgar::matching
