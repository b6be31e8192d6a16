#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include "measures/lanes/candidate_group.hpp"
#include "measures/weighted_score.hpp"

namespace pelgar::measures {

// weighted_score(query, candidate) for many candidates, short ones scored several at a time
// in one vectorised pass. Each score reaches sink(tag, score), possibly only after later
// candidates were offered, and in no set order; flush() delivers those still held back.
// One thread at a time; neither copied nor moved, since the group refers to the scorer.
class GroupedScorer {
public:
    explicit GroupedScorer(std::u32string_view query) : scorer_(query) {
        if (const ShortQuery* short_query = scorer_.short_query()) group_.emplace(*short_query);
    }
    GroupedScorer(const GroupedScorer&) = delete;
    GroupedScorer& operator=(const GroupedScorer&) = delete;

    template <class Sink>
    void offer(std::size_t tag, std::u32string_view candidate, Sink&& sink) {
        if (!group_ || !ShortQuery::fits(candidate.size())) {
            sink(tag, scorer_.score(candidate));
            return;
        }
        tags_[group_->size()] = tag;
        group_->add(candidate);
        if (group_->full()) deliver(sink);
    }

    template <class Sink>
    void flush(Sink&& sink) {
        if (group_ && group_->size() != 0) deliver(sink);
    }

    // True while the candidate offered with this tag waits for its score.
    bool holds(std::size_t tag) const {
        for (std::size_t i = 0; group_ && i < group_->size(); ++i)
            if (tags_[i] == tag) return true;
        return false;
    }

private:
    template <class Sink>
    void deliver(Sink& sink) {
        const std::size_t count = group_->size();
        double scores[CandidateGroup::kLanes];
        group_->score_into(scores);
        for (std::size_t i = 0; i < count; ++i) sink(tags_[i], scores[i]);
    }

    WeightedScorer scorer_;
    std::optional<CandidateGroup> group_;
    std::size_t tags_[CandidateGroup::kLanes] = {};
};

}  // namespace pelgar::measures
