#include "measures/weighted_score.hpp"

#include <algorithm>
#include <cstdint>
#include <string>

#include "measures/jaro_winkler.hpp"
#include "measures/levenshtein.hpp"
#include "measures/trigram.hpp"
#include "text/utf8.hpp"

namespace pelgar::measures {

double weighted_score(std::u32string_view a, std::u32string_view b) {
    const std::uint64_t distance = edit_distance(a, b);
    const std::uint64_t longer = std::max(a.size(), b.size());
    const double edit_part =
        longer == 0 ? 0.35 : (1.0 - static_cast<double>(distance) / static_cast<double>(longer)) * 0.35;
    const double jaro = jaro_winkler_score(a, b);
    const double trigram = trigram_score(a, b);
    // The trigram term goes on last; the other grouping differs in the last bit.
    double sum = jaro * 0.4;
    sum = sum + edit_part;
    return trigram * 0.25 + sum;
}

double weighted_score(std::string_view a, std::string_view b) {
    const std::u32string left = text::decode_utf8(a);
    const std::u32string right = text::decode_utf8(b);
    return weighted_score(std::u32string_view(left), std::u32string_view(right));
}

}  // namespace pelgar::measures
