#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "join/key_groups.hpp"
#include "join/prepared_texts.hpp"
#include "join/trigram_postings.hpp"

namespace pelgar::join {

struct Pair {
    std::uint32_t first;
    std::uint32_t second;
    double score;
};

// Where a probe sends what it finds. One sink serves all the probes of a run, from several
// threads at once.
class PairSink {
public:
    virtual ~PairSink() = default;
    // True when the pair of keys need not be scored (their rows are joined already).
    virtual bool skip(std::uint32_t key, std::uint32_t partner) { return key == partner; }
    // weighted_score(key, partner) reached the threshold.
    virtual void found(std::uint32_t key, std::uint32_t partner, double score) = 0;
};

// The pairs of distinct keys of present texts with weighted_score(key, partner) >= threshold,
// found one probe key at a time: probe(a) reports the partners b whose rows include one
// after a first row of a, scored with a's key first; so each pair of rows i < j is covered
// by the probe of i's key. Rows of one key always score 1.0 with each other (the sink's
// business). Pairs that provably cannot qualify are not scored. Where every qualifying pair
// of keys must share trigram elements, candidates come from an inverted index over a prefix
// of each key's elements in a global rarest-first order (the prefix filter), met at most
// once each and checked against the fewest shared elements their lengths need (a
// positional filter); otherwise from the length groups the threshold allows. Immutable
// once built; probes run concurrently.
class SelfJoin {
public:
    SelfJoin(const PreparedTexts& texts, double threshold);

    const KeyGroups& keys() const noexcept { return keys_; }
    double threshold() const noexcept { return threshold_; }
    // Scores key against its partners, telling the sink; returns how many pairs of rows
    // those scores settle.
    std::size_t probe(std::uint32_t key, PairSink& sink) const;
    bool uses_trigram_index() const noexcept { return indexed_; }

private:
    friend class SelfJoinProbe;

    // The partner lengths a key of some length can qualify with, and for three or more
    // characters the fewest elements it must share with any of them.
    struct LengthPlan {
        std::size_t low = 1, high = 0;  // lengths of groups; empty when low > high
        std::size_t min_shared = 0;
        bool by_trigrams = false;       // partners of 3 characters or more come from the lists
    };

    void plan_lengths();
    static std::size_t prefix_size(const void* join, std::uint32_t key, std::size_t elements);
    const LengthPlan& plan_of(std::uint32_t key) const {
        return plans_[keys_.length_group_at_least(keys_.length(key))];
    }

    double threshold_;
    KeyGroups keys_;
    std::vector<LengthPlan> plans_;  // by length group
    bool indexed_ = false;
    TrigramPostings postings_;
};

// Every pair of rows i < j whose scores reach the threshold, sorted by (i, j), from the
// partners each probe found (found[key]: (partner, score) pairs).
std::vector<Pair> row_pairs(const KeyGroups& keys, double threshold,
                            const std::vector<std::vector<std::pair<std::uint32_t, double>>>& found);

// How many pairs of rows i < j the rows of two keys make, the first key's row first.
std::size_t ordered_row_pairs(const KeyGroups& keys, std::uint32_t key, std::uint32_t partner);

}  // namespace pelgar::join
