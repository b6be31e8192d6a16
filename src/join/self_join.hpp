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
// threads at once; a probe may report pairs with either key first.
class PairSink {
public:
    virtual ~PairSink() = default;
    // True when the pair of keys need not be scored (their rows are joined already).
    virtual bool skip(std::uint32_t key, std::uint32_t partner) { return key == partner; }
    // weighted_score(key, partner) reached the threshold.
    virtual void found(std::uint32_t key, std::uint32_t partner, double score) = 0;
};

// The pairs of distinct keys of present texts with weighted_score(first, second) >= threshold
// wherever a row of the first comes before a row of the second, found one probe key at a
// time: probe(a) meets each key b after a (in key order) once and scores the orders their
// rows need. Rows of one key always score 1.0 with each other (the sink's business).
// Partners come from the same search as a top-k query with a fixed cutoff, over trigram
// postings that list only the prefix of each key the threshold needs; pairs that provably
// cannot qualify are not scored.
// Immutable once built; probes run concurrently.
class SelfJoin {
public:
    SelfJoin(const PreparedTexts& texts, double threshold);
    // Over keys already grouped (a record field's), numbered as they are.
    SelfJoin(KeyGroups keys, double threshold);

    const KeyGroups& keys() const noexcept { return keys_; }
    double threshold() const noexcept { return threshold_; }
    // Scores key against its partners, telling the sink; returns how many pairs of rows
    // those scores settle.
    std::size_t probe(std::uint32_t key, PairSink& sink) const;

private:
    double threshold_;
    KeyGroups keys_;
    TrigramPostings postings_;
};

// Every pair of rows i < j whose scores reach the threshold, sorted by (i, j), from the
// partners each probe found (found[key]: (partner, score) pairs).
std::vector<Pair> row_pairs(const KeyGroups& keys, double threshold,
                            const std::vector<std::vector<std::pair<std::uint32_t, double>>>& found);

// How many pairs of rows i < j the rows of two keys make, the first key's row first.
std::size_t ordered_row_pairs(const KeyGroups& keys, std::uint32_t key, std::uint32_t partner);

}  // namespace pelgar::join
