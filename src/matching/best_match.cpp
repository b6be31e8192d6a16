#include "matching/best_match.hpp"

namespace pelgar::matching {

BestMatchSearch::BestMatchSearch(std::u32string_view query)
    : normalized_query_(text::normalize(query)), search_(normalized_query_) {
    search_.report_released(&released_);
}

}  // namespace pelgar::matching
