#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "measures/jaro_winkler.hpp"
#include "measures/levenshtein.hpp"
#include "measures/trigram.hpp"

namespace pelgar::measures {

// weighted_score with the first string fixed, for scoring one query against many
// candidates: what depends only on the query is prepared once. One thread at a time.
//
// When both strings have at most 64 characters, the three measures share one table:
// for each query position, the mask of candidate positions that hold the same
// character. The edit distance runs with the candidate as the bit-parallel pattern,
// Jaro-Winkler and the trigram count pick bits out of the same masks. Longer strings go
// through the three separate patterns.
class WeightedScorer {
public:
    explicit WeightedScorer(std::u32string_view query);
    double score(std::u32string_view candidate) const;

private:
    static constexpr std::size_t kShared = 64;

    // Row of a candidate character: the 1-based index of its first occurrence among the
    // distinct characters of the query, 0 when the query lacks it.
    std::uint8_t row_of(char32_t c) const;
    template <bool kOneChunk, bool kDistinctTrigrams>
    double score_shared(std::u32string_view candidate) const;

    std::size_t query_length_;
    LevenshteinPattern distance_;
    JaroWinklerPattern jaro_winkler_;
    TrigramPattern trigrams_;

    // Only filled for a query of at most kShared characters.
    std::array<char32_t, kShared> query_{};
    std::array<std::uint8_t, kShared> query_rows_{};
    // query_rows_[j] in all 16 bytes, for comparing 16 candidate rows at once.
    alignas(16) std::array<std::array<std::uint8_t, 16>, kShared> splat_rows_{};
    // Whether no trigram occurs twice in the query: then each one pairs off on its own.
    bool distinct_trigrams_ = true;
    // Jaro-Winkler window masks by query position, for the window they were made for.
    mutable std::size_t window_ = ~std::size_t{0};
    mutable std::array<std::uint64_t, kShared> window_masks_{};
    std::array<std::uint8_t, 256> latin1_rows_{};
    // Characters above U+00FF, open addressing at load <= 1/2; key 0 marks an empty slot.
    std::size_t slot_mask_ = 0;
    std::array<char32_t, 2 * kShared> slot_keys_{};
    std::array<std::uint8_t, 2 * kShared> slot_rows_{};
};

// t*0.25 + (j*0.4 + levenshtein part) of two normalised strings, first string first.
double weighted_score(std::u32string_view a, std::u32string_view b);

// The same for UTF-8 text: each string is decoded once and shared by the three measures.
double weighted_score(std::string_view a, std::string_view b);

}  // namespace pelgar::measures
