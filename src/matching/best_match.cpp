#include "matching/best_match.hpp"

namespace pelgar::matching {

BestMatchSearch::BestMatchSearch(std::u32string_view query)
    : normalized_query_(text::normalize(query)), search_(normalized_query_) {}

}  // namespace pelgar::matching
