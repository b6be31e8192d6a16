#include "measures/weighted_score.hpp"

#include <algorithm>
#include <cstdint>
#include <string>

#include "text/utf8.hpp"

namespace pelgar::measures {

WeightedScorer::WeightedScorer(std::u32string_view query)
    : query_length_(query.size()), distance_(query), jaro_winkler_(query), trigrams_(query) {}

double WeightedScorer::score(std::u32string_view candidate) const {
    // The edit distance is symmetric, so the query's pattern serves either order.
    const std::uint64_t distance = distance_.distance(candidate);
    const std::uint64_t longer = std::max(query_length_, candidate.size());
    const double edit_part =
        longer == 0 ? 0.35 : (1.0 - static_cast<double>(distance) / static_cast<double>(longer)) * 0.35;
    const double jaro = jaro_winkler_.score(candidate);
    const double trigram = trigrams_.score(candidate);
    // The trigram term goes on last; the other grouping differs in the last bit.
    double sum = jaro * 0.4;
    sum = sum + edit_part;
    return trigram * 0.25 + sum;
}

double weighted_score(std::u32string_view a, std::u32string_view b) { return WeightedScorer(a).score(b); }

double weighted_score(std::string_view a, std::string_view b) {
    const std::u32string left = text::decode_utf8(a);
    const std::u32string right = text::decode_utf8(b);
    return weighted_score(std::u32string_view(left), std::u32string_view(right));
}

}  // namespace pelgar::measures
