#include "measures/text_functions.hpp"

#include <string>

#include "measures/jaro_winkler.hpp"
#include "measures/levenshtein.hpp"
#include "measures/trigram.hpp"
#include "measures/weighted_score.hpp"
#include "text/normalize.hpp"
#include "text/tokens.hpp"

namespace pelgar::measures {

namespace {

template <class Measure>
auto on_normalized(std::string_view a, std::string_view b, Measure&& measure) {
    std::u32string na, nb;
    text::normalize_into(a, na);
    text::normalize_into(b, nb);
    return measure(std::u32string_view(na), std::u32string_view(nb));
}

template <class Key>
double on_keys(std::string_view a, std::string_view b, Key&& key) {
    const std::string ka = key(text::normalize(a));
    const std::string kb = key(text::normalize(b));
    return weighted_score(std::string_view(ka), std::string_view(kb));
}

}  // namespace

std::uint64_t levenshtein(std::string_view a, std::string_view b) {
    return on_normalized(a, b, [](std::u32string_view x, std::u32string_view y) { return edit_distance(x, y); });
}

double jaro_winkler(std::string_view a, std::string_view b) {
    return on_normalized(a, b, [](std::u32string_view x, std::u32string_view y) { return jaro_winkler_score(x, y); });
}

double trigram_similarity(std::string_view a, std::string_view b) {
    return on_normalized(a, b, [](std::u32string_view x, std::u32string_view y) { return trigram_score(x, y); });
}

double combined_score(std::string_view a, std::string_view b) {
    return on_normalized(a, b, [](std::u32string_view x, std::u32string_view y) { return weighted_score(x, y); });
}

double token_sort_ratio(std::string_view a, std::string_view b) {
    return on_keys(a, b, [](const std::string& normalized) { return text::token_sort_key(normalized); });
}

double token_set_ratio(std::string_view a, std::string_view b) {
    return on_keys(a, b, [](const std::string& normalized) { return text::token_set_key(normalized); });
}

}  // namespace pelgar::measures
