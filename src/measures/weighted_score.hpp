#pragma once

#include <cstddef>
#include <string_view>

#include "measures/jaro_winkler.hpp"
#include "measures/levenshtein.hpp"
#include "measures/trigram.hpp"

namespace pelgar::measures {

// weighted_score with the first string fixed, for scoring one query against many
// candidates: what depends only on the query is prepared once. One thread at a time.
class WeightedScorer {
public:
    explicit WeightedScorer(std::u32string_view query);
    double score(std::u32string_view candidate) const;

private:
    std::size_t query_length_;
    LevenshteinPattern distance_;
    JaroWinklerPattern jaro_winkler_;
    TrigramPattern trigrams_;
};

// t*0.25 + (j*0.4 + levenshtein part) of two normalised strings, first string first.
double weighted_score(std::u32string_view a, std::u32string_view b);

// The same for UTF-8 text: each string is decoded once and shared by the three measures.
double weighted_score(std::string_view a, std::string_view b);

}  // namespace pelgar::measures
