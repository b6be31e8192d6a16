#include "matching/score_bound.hpp"

#include <algorithm>
#include <limits>

#include "measures/score_weights.hpp"
#include "measures/trigram.hpp"

namespace pelgar::matching {

namespace {

namespace weights = measures::weights;

// Far above the few units in the last place by which the computed score and the computed
// bound can each stray from their exact values.
constexpr double kRoundingMargin = 1e-9;

constexpr double kOneThird = 1.0 / 3.0;

// The trigram measure of an n- and an m-character string that share `shared` trigrams.
double trigram_of_lengths(std::size_t n, std::size_t m, std::size_t shared) {
    if (n < 3 && m < 3) return 1.0;
    if (n < 3 || m < 3) return 0.0;
    return measures::trigram_dice(std::min(shared, std::min(n, m) - 2), n - 2, m - 2);
}

// Jaro-Winkler with `matches` pairs, no transposition and a prefix of `prefix` characters.
double jaro_winkler_ceiling(double matches, double inverse_n, double inverse_m, std::size_t prefix) {
    // A third by multiplication: one rounding more, well inside the margin.
    const double j = (1.0 + matches * inverse_n + matches * inverse_m) * kOneThird;
    return j + (1.0 - j) * weights::kPrefixBoost[prefix];
}

// Each edit removes at most three of a string's trigrams, so two strings, the longer of
// `longer` characters, that share at most `shared` trigrams are (longer - 2 - shared) / 3
// edits apart or more; the Levenshtein part this leaves at most. No effect when unknown.
double edit_ceiling(std::size_t longer, std::size_t shared) {
    if (longer <= 2 || shared >= longer - 2) return weights::kEdit;
    const double distance = static_cast<double>(longer - 2 - shared) / 3.0;
    return (1.0 - distance / static_cast<double>(longer)) * weights::kEdit;
}

}  // namespace

ScoreBound::ScoreBound(std::u32string_view query)
    : query_(query),
      inverse_length_(query.empty() ? 0.0 : 1.0 / static_cast<double>(query.size())),
      query_buckets_(CharBuckets::presence(query)) {
    for (char32_t c : query)
        if (c < 256) low_present_[c] = 1;
    low_present_[256] = 1;
}

const ScoreBound::LengthPart& ScoreBound::new_length_part(std::size_t m) {
    const std::size_t n = query_.size();
    LengthPart part;
    part.inverse_m = m == 0 ? 0.0 : 1.0 / static_cast<double>(m);
    part.edit_factor = std::min(inverse_length_, part.inverse_m) * weights::kEdit;
    double trigram = 0.0;
    if (n < 3 && m < 3) {
        trigram = 1.0;
    } else if (n >= 3 && m >= 3) {
        const double a = static_cast<double>(n - 2), b = static_cast<double>(m - 2);
        trigram = 2.0 * std::min(a, b) / (a + b);
    }
    part.trigram_term = trigram * weights::kTrigram;
    part.ceiling = length_bound(n, m, std::numeric_limits<std::size_t>::max());
    part.ready = true;
    LengthPart& slot = m <= kCachedLengths ? length_parts_[m] : long_part_;
    slot = part;
    return slot;
}

// With n query and m candidate characters: only the k candidate characters that occur in
// the query at all (every one above U+00FF is counted as if it did) can pair up with equal
// query characters. So the Jaro matches M <= min(k, n), with the transposition term at most
// 1; the distance is at least max(n, m) - min(k, n); at most min(n, m) - 2 trigrams are shared.
double ScoreBound::upper_bound(std::u32string_view candidate) {
    if (query_.empty() || candidate.empty()) return 1.0 + kRoundingMargin;
    return bound_with_trigram_term(candidate, length_part(candidate.size()).trigram_term,
                                   std::numeric_limits<std::size_t>::max());
}

double ScoreBound::upper_bound(std::u32string_view candidate, std::size_t shared_trigrams) {
    if (query_.empty() || candidate.empty()) return 1.0 + kRoundingMargin;
    return bound_with_trigram_term(
        candidate, trigram_of_lengths(query_.size(), candidate.size(), shared_trigrams) * weights::kTrigram,
        shared_trigrams);
}

double ScoreBound::upper_bound(std::u32string_view candidate, const CharBuckets& candidate_buckets) {
    if (query_.empty() || candidate.empty()) return 1.0 + kRoundingMargin;
    return bound_from_count(candidate, candidate_buckets.count_in(query_buckets_),
                            length_part(candidate.size()).trigram_term, std::numeric_limits<std::size_t>::max());
}

double ScoreBound::bound_with_trigram_term(std::u32string_view candidate, double trigram_term,
                                           std::size_t shared_trigrams) {
    std::size_t in_query_count = 0;
    for (char32_t c : candidate) in_query_count += in_query(c);
    return bound_from_count(candidate, in_query_count, trigram_term, shared_trigrams);
}

double ScoreBound::bound_from_count(std::u32string_view candidate, std::size_t in_query_count, double trigram_term,
                                    std::size_t shared_trigrams) {
    const std::size_t n = query_.size(), m = candidate.size();
    const std::size_t common = std::min(in_query_count, n);
    std::size_t prefix = 0;
    const std::size_t prefix_limit = std::min({weights::kMaxPrefix, n, m});
    while (prefix < prefix_limit && query_[prefix] == candidate[prefix]) ++prefix;

    const LengthPart& part = length_part(m);
    const double k = static_cast<double>(common);
    const double jaro = common > 0 ? jaro_winkler_ceiling(k, inverse_length_, part.inverse_m, prefix) : 0.0;
    const double edit = std::min(k * part.edit_factor, edit_ceiling(std::max(n, m), shared_trigrams));
    return trigram_term + jaro * weights::kJaroWinkler + edit + kRoundingMargin;
}

// As above with every character of the shorter string matched and a full prefix: the
// Jaro-Winkler and distance terms fall as the lengths part, and so does the trigram term.
double ScoreBound::length_bound(std::size_t n, std::size_t m, std::size_t shared_trigrams) {
    if (n == 0 && m == 0) return 1.0 + kRoundingMargin;
    const std::size_t shorter = std::min(n, m), longer = std::max(n, m);
    const double trigram_term = trigram_of_lengths(n, m, shared_trigrams) * weights::kTrigram;
    if (shorter == 0) return trigram_term + kRoundingMargin;
    const double k = static_cast<double>(shorter);
    const double jaro = jaro_winkler_ceiling(k, 1.0 / static_cast<double>(n), 1.0 / static_cast<double>(m),
                                             std::min(weights::kMaxPrefix, shorter));
    const double edit = std::min(k / static_cast<double>(longer) * weights::kEdit, edit_ceiling(longer, shared_trigrams));
    return trigram_term + jaro * weights::kJaroWinkler + edit + kRoundingMargin;
}

}  // namespace pelgar::matching
