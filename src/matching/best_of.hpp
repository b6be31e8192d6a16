#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "matching/char_buckets.hpp"
#include "matching/match.hpp"
#include "matching/score_bound.hpp"
#include "measures/grouped_scorer.hpp"

namespace pelgar::matching {

// What a candidate of `bytes` bytes counts towards a StopPoll's budget: a few thousand
// short names between checks.
inline std::int64_t candidate_work(std::size_t bytes) { return static_cast<std::int64_t>(bytes) + 8; }

// The best-of rule over normalised candidates: the greatest score wins, and of equal top
// scores the one latest in input order (the greatest index), as if each score >= the
// running best replaced it in input order. Candidates may be offered in any order, and
// their scores may arrive late (short ones are scored in groups). A candidate whose
// upper bound is below the running best cannot win and is not scored; a candidate that
// could tie is always scored. A short candidate scored in vectors of 256 bits or more
// costs less than its bound, so only the cached ceiling of its length is checked. For the
// others, where the bound keeps failing to prune (candidates as alike as the best so far),
// checking it costs more than it saves, so after a window that pruned little the next
// stretch of candidates is scored without it. Which candidates are scored never changes
// the result. One thread at a time.
class BestOf {
public:
    // With the LaneCodes of prepared candidates, those can be offered in their codes.
    explicit BestOf(std::u32string_view normalized_query, const measures::lanes::LaneCodes* codes = nullptr)
        : scorer_(normalized_query, codes), bound_(normalized_query) {}

    void offer(std::size_t index, std::u32string_view normalized_candidate) {
        offer_bounded(index, normalized_candidate, [&] { return bound_.upper_bound(normalized_candidate); });
    }

    // The same with the candidate's bucket counts, made once for candidates that many
    // queries search; a candidate longer than CharBuckets::kMaxLength has none.
    void offer(std::size_t index, std::u32string_view normalized_candidate, const CharBuckets& candidate_buckets) {
        offer(index, normalized_candidate, candidate_buckets, nullptr);
    }

    // The same, with the candidate's codes in the LaneCodes the search was made with (null
    // when it has none).
    void offer(std::size_t index, std::u32string_view normalized_candidate, const CharBuckets& candidate_buckets,
               const std::uint8_t* codes) {
        if (normalized_candidate.size() > CharBuckets::kMaxLength) return offer(index, normalized_candidate);
        offer_bounded(
            index, normalized_candidate, [&] { return bound_.upper_bound(normalized_candidate, candidate_buckets); },
            codes);
    }

    // Whether prepared candidates of m characters are best offered a run at a time.
    bool takes_runs(std::size_t m) const { return scorer_.cheaper_than_bound(m); }

    // Prepared candidates all of m characters (takes_runs(m)) with their own codes back to
    // back in the LaneCodes the search was made with, and the masks made for the first
    // mask_blocks of their blocks; indices[i] is the i-th one's index.
    void offer_run(const std::size_t* indices, std::size_t count, std::size_t m, const std::uint8_t* codes,
                   const measures::lanes::BlockMasks* masks = nullptr, std::size_t mask_blocks = 0) {
        if (bound_.length_ceiling(m) < best_score_) {
            skipped_ += count;
            return;
        }
        scorer_.offer_coded(indices, count, m, codes, masks, mask_blocks, Consider{*this});
    }

    // True when no candidate of m characters can reach the running best; then none further
    // from the query's length can either.
    bool out_of_reach(std::size_t m) { return bound_.length_ceiling(m) < best_score_; }

    // The best match of all candidates offered; scores still held back are taken in first.
    const std::optional<Match>& best() {
        scorer_.flush(Consider{*this});
        if (best_score_ >= 0.0) best_ = Match{best_index_, best_score_};
        return best_;
    }
    // Candidates passed over unscored so far.
    std::size_t skipped() const noexcept { return skipped_; }
    // From now on, appends to `released` the index of each scored candidate as it stops
    // contending: its score came in below the best, or a better one replaced it as the best.
    void report_released(std::vector<std::size_t>* released) noexcept { released_ = released; }

private:
    template <class Bound>
    void offer_bounded(std::size_t index, std::u32string_view normalized_candidate, Bound&& upper_bound,
                       const std::uint8_t* codes = nullptr) {
        auto score = [&] {
            scorer_.offer_coded(index, normalized_candidate, codes, Consider{*this});
        };
        const std::size_t m = normalized_candidate.size();
        if (scorer_.cheaper_than_bound(m)) {
            // Only the length's ceiling, which is cached, costs less than such a score.
            if (bound_.length_ceiling(m) < best_score_) {
                ++skipped_;
                return;
            }
            return score();
        }
        if (unchecked_ > 0) {
            --unchecked_;
        } else if (best_score_ >= 0.0) {
            const bool pruned =
                bound_.length_ceiling(normalized_candidate.size()) < best_score_ || upper_bound() < best_score_;
            window_pruned_ += pruned;
            if (++window_checked_ == kWindow) {
                if (window_pruned_ < kWorthwhile) unchecked_ = kPause;
                window_checked_ = 0;
                window_pruned_ = 0;
            }
            if (pruned) {
                ++skipped_;
                return;
            }
        }
        score();
    }

    // The sink of the scores: one at a time, or a block whose best is below the running best
    // at once, when no one asks which candidates it releases.
    struct Consider {
        BestOf& search;
        void operator()(std::size_t index, double score) const { search.consider(index, score); }
        void block(const std::size_t* indices, const double* scores, std::size_t count) const {
            double top = scores[0];
            for (std::size_t i = 1; i < count; ++i) top = top < scores[i] ? scores[i] : top;
            if (top < search.best_score_ && !search.released_) return;
            for (std::size_t i = 0; i < count; ++i) search.consider(indices[i], scores[i]);
        }
    };

    void consider(std::size_t index, double score) {
        if (score > best_score_ || (score == best_score_ && index > best_index_)) {
            if (released_ && best_score_ >= 0.0) released_->push_back(best_index_);
            best_score_ = score;
            best_index_ = index;
        } else if (released_) {
            released_->push_back(index);
        }
    }

    // Else a bound costs about a fifth of a score, so it pays when it prunes more than that.
    static constexpr std::uint32_t kWindow = 64;
    static constexpr std::uint32_t kWorthwhile = 12;
    static constexpr std::uint32_t kPause = 448;

    measures::GroupedScorer scorer_;
    ScoreBound bound_;
    // The running best; scores are never negative, so -1 stands for none and nothing is
    // pruned before the first score.
    double best_score_ = -1.0;
    std::size_t best_index_ = 0;
    std::optional<Match> best_;  // the answer, made by best()
    std::size_t skipped_ = 0;
    std::uint32_t window_checked_ = 0;
    std::uint32_t window_pruned_ = 0;
    std::uint32_t unchecked_ = 0;  // candidates still to score without the bound
    std::vector<std::size_t>* released_ = nullptr;
};

}  // namespace pelgar::matching
