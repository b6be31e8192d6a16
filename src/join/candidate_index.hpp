#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "join/key_groups.hpp"
#include "join/prepared_texts.hpp"
#include "join/trigram_postings.hpp"
#include "matching/match.hpp"

namespace pelgar::join {

// Candidates prepared once for many top-k searches: their keys, grouped where equal (the
// prepared texts are not kept), and the trigram postings of the distinct keys. Immutable once built; searches share it freely.
class CandidateIndex {
public:
    CandidateIndex(Scorer scorer, const PreparedTexts& texts);
    CandidateIndex(const CandidateIndex&) = delete;
    CandidateIndex& operator=(const CandidateIndex&) = delete;

    Scorer scorer() const noexcept { return scorer_; }
    const KeyGroups& keys() const noexcept { return keys_; }
    const TrigramPostings& postings() const noexcept { return postings_; }
    std::size_t size() const noexcept { return keys_.row_count(); }
    std::size_t memory_bytes() const noexcept;

    // Up to k candidates with score >= threshold, by descending score, equal scores by
    // lower position. Candidates that cannot make the list are not scored; `scored`, if
    // given, grows by the number of distinct keys that were.
    std::vector<matching::Match> top_k(std::u32string_view query, std::size_t k, double threshold,
                                       std::size_t* scored = nullptr) const;

private:
    friend struct IndexImage;
    explicit CandidateIndex(Scorer scorer) : scorer_(scorer) {}

    Scorer scorer_;
    KeyGroups keys_;
    TrigramPostings postings_;
};

}  // namespace pelgar::join
