#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "measures/jaro_winkler.hpp"
#include "measures/kernel_support.hpp"
#include "measures/lanes/lane_types.hpp"
#include "measures/levenshtein.hpp"
#include "measures/trigram.hpp"

namespace pelgar::measures {

// What the merged pass counts for a query and one candidate; the score follows from these.
struct MergedCounts {
    std::size_t distance;    // edit distance
    std::size_t matches;     // Jaro matches
    std::size_t mismatched;  // matched characters out of order
    std::size_t prefix;      // equal leading characters, at most 4
    std::size_t common;      // trigrams paired off
};

// The three measures merged into one pass, for a query and a candidate of 1 to 64
// characters each: one table gives, for each query position, the mask of candidate
// positions that hold the same character. The edit distance runs with the candidate as
// the bit-parallel pattern, Jaro-Winkler and the trigram count pick bits out of the same
// masks. Building one costs about as much as one score, so it also serves single pairs.
class ShortQuery {
public:
    static constexpr std::size_t kMaxLength = lanes::kMaxLength;
    // Whether a query or a candidate of this length takes the merged pass.
    static bool fits(std::size_t length) { return length != 0 && length <= kMaxLength; }

    // What the query will score: one candidate, or enough of them to make a check of the
    // query worth its cost (O(n^2) for a count of repeated trigrams that saves work per score).
    enum class Use { kOnePair, kManyCandidates };

    // A query of at most kMaxLength characters; an empty one scores nothing.
    ShortQuery(std::u32string_view query, Use use);

    // weighted_score(query, candidate) for a nonempty query and 1 to kMaxLength candidate
    // characters.
    double score(std::u32string_view candidate) const;

    // The score of a candidate of m characters from what the pass counted for it.
    double score_of(const MergedCounts& counts, std::size_t m) const;

    // The query as the vectorised pass over several candidates reads it, for Use::kManyCandidates:
    // row r's character written as codes[r], or by default as r, for candidates written as rows.
    lanes::LaneQuery lane_query(const std::uint8_t* codes) const;
    lanes::LaneQuery lane_query() const;
    std::size_t length() const noexcept { return n_; }
    // Rows run from 1 to distinct_characters(); 0 stands for characters the query lacks.
    std::uint8_t row_of(char32_t c) const { return rows_.find(c); }
    std::size_t distinct_characters() const noexcept { return distinct_; }

private:
    template <bool kOneChunk, bool kDistinctTrigrams>
    MergedCounts count_with(std::u32string_view candidate) const;

    std::size_t n_ = 0;
    char32_t query_[kMaxLength];
    // Row of a character: the 1-based index of its first occurrence among the distinct
    // characters of the query, 0 when the query lacks it.
    kernel::CharTable<std::uint8_t> rows_;
    std::uint8_t query_rows_[kMaxLength];
    // query_rows_[j] in all 16 bytes, for comparing 16 candidate rows at once.
    alignas(16) std::uint8_t splat_rows_[kMaxLength][16];
    // Known that no trigram occurs twice in the query: then each one pairs off on its own.
    bool distinct_trigrams_ = false;
    // By candidate length, the match window of query position 0 and how long its lower end
    // stays at 0, for the vectorised pass.
    std::uint64_t lane_window_[kMaxLength + 1] = {};
    std::uint64_t lane_growing_[kMaxLength + 1] = {};
    std::size_t distinct_ = 0;
};

// weighted_score with the first string fixed, for scoring one query against many
// candidates: what depends only on the query is prepared once. Pairs of short strings
// take the merged pass of ShortQuery, longer ones the three separate patterns, whose
// scratch the scorer owns: score() is not const, and a scorer serves one thread at a time.
class WeightedScorer {
public:
    explicit WeightedScorer(std::u32string_view query);
    double score(std::u32string_view candidate);

    // The merged pass of the query, when candidates of 1 to ShortQuery::kMaxLength
    // characters take it; nullptr for an empty or longer query.
    const ShortQuery* short_query() const noexcept { return short_.length() != 0 ? &short_ : nullptr; }

private:
    std::size_t query_length_;
    ShortQuery short_;
    LevenshteinPattern distance_;
    JaroWinklerPattern jaro_winkler_;
    TrigramPattern trigrams_;
};

// t*0.25 + (j*0.4 + levenshtein part) of two normalised strings, first string first.
double weighted_score(std::u32string_view a, std::u32string_view b);

// The same for UTF-8 text: each string is decoded once and shared by the three measures.
double weighted_score(std::string_view a, std::string_view b);

}  // namespace pelgar::measures
