#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "join/length_groups.hpp"
#include "join/prepared_texts.hpp"

namespace pelgar::join {

struct Pair {
    std::uint32_t first;
    std::uint32_t second;
    double score;
};

// Every pair first < second of present texts with weighted_score(key first, key second)
// >= threshold, found one probe row at a time: probe(i) gives the pairs (i, j > i).
// Pairs that provably cannot qualify are not scored. Where every qualifying pair must
// share trigrams (thresholds above 0.75), candidates come from an inverted index over
// a prefix of each row's trigrams in a global rarest-first order; otherwise from the
// length groups the threshold allows. Immutable once built; probes run concurrently.
class SelfJoin {
public:
    SelfJoin(const PreparedTexts& texts, double threshold);

    std::size_t rows() const noexcept { return texts_.size(); }
    // Appends the qualifying pairs (row, j) by increasing j; returns how many were scored.
    std::size_t probe(std::size_t row, std::vector<Pair>& out) const;
    bool uses_trigram_index() const noexcept { return indexed_; }

private:
    // The partner lengths a row of some length can qualify with, and for three or more
    // characters the fewest trigrams it must share with any of them.
    struct LengthPlan {
        std::size_t low = 1, high = 0;  // empty when low > high
        std::size_t min_shared = 0;
    };

    void plan_lengths();
    void build_trigram_index();
    std::size_t probe_lengths(std::size_t row, std::vector<Pair>& out) const;
    std::size_t probe_trigrams(std::size_t row, std::vector<Pair>& out) const;
    const LengthPlan& plan(std::size_t length) const { return plans_[groups_.first_at_least(length)]; }
    bool allowed(const LengthPlan& plan, std::size_t length) const { return plan.low <= length && length <= plan.high; }

    const PreparedTexts& texts_;
    double threshold_;
    LengthGroups groups_;
    std::vector<LengthPlan> plans_;  // by length group; low and high are lengths of groups
    bool indexed_ = false;

    // Each row's trigrams as element ranks (a trigram with its occurrence number, so a
    // shared rank is one pairing of the multiset intersection), increasing.
    std::vector<std::size_t> element_begins_;
    std::vector<std::uint32_t> elements_;
    // Per rank, the rows that hold it within their prefix, increasing.
    std::vector<std::size_t> posting_begins_;
    std::vector<std::uint32_t> postings_;
};

// The pairs of every probe, in probe order: sorted by (first, second).
std::vector<Pair> concatenate(std::vector<std::vector<Pair>>& per_row);

// Per row, the smallest position connected to it through the pairs.
std::vector<std::size_t> connected_labels(std::size_t rows, const std::vector<Pair>& pairs);

}  // namespace pelgar::join
