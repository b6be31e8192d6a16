#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "join/length_groups.hpp"
#include "join/prepared_texts.hpp"
#include "join/trigram_postings.hpp"
#include "matching/match.hpp"

namespace pelgar::join {

// Candidates prepared once for many top-k searches: their keys, their trigram postings
// and their positions grouped by length. Immutable once built; searches share it freely.
class CandidateIndex {
public:
    CandidateIndex(Scorer scorer, PreparedTexts texts);

    Scorer scorer() const noexcept { return scorer_; }
    const PreparedTexts& texts() const noexcept { return texts_; }
    std::size_t size() const noexcept { return texts_.size(); }
    std::size_t memory_bytes() const noexcept;

    // Up to k candidates with score >= threshold, by descending score, equal scores by
    // lower position. Candidates that cannot make the list are not scored.
    std::vector<matching::Match> top_k(std::u32string_view query, std::size_t k, double threshold) const;

private:
    friend class TopKSearch;

    Scorer scorer_;
    PreparedTexts texts_;
    TrigramPostings postings_;
    LengthGroups groups_;
};

}  // namespace pelgar::join
