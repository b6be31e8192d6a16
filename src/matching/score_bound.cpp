#include "matching/score_bound.hpp"

#include <algorithm>

#include "measures/score_weights.hpp"

namespace pelgar::matching {

namespace {

namespace weights = measures::weights;

// Far above the few units in the last place by which the computed score and the computed
// bound can each stray from their exact values.
constexpr double kRoundingMargin = 1e-9;

constexpr double kOneThird = 1.0 / 3.0;

}  // namespace

ScoreBound::ScoreBound(std::u32string_view query)
    : query_(query), inverse_length_(query.empty() ? 0.0 : 1.0 / static_cast<double>(query.size())) {
    for (char32_t c : query)
        if (c < 256) low_present_[c >> 6] |= std::uint64_t{1} << (c & 63);
}

ScoreBound::LengthPart ScoreBound::length_part(std::size_t m) {
    if (m <= kCachedLengths && length_parts_[m].ready) return length_parts_[m];
    const std::size_t n = query_.size();
    LengthPart part;
    part.inverse_m = 1.0 / static_cast<double>(m);
    part.edit_factor = std::min(inverse_length_, part.inverse_m) * weights::kEdit;
    double trigram = 0.0;
    if (n < 3 && m < 3) {
        trigram = 1.0;
    } else if (n >= 3 && m >= 3) {
        const double a = static_cast<double>(n - 2), b = static_cast<double>(m - 2);
        trigram = 2.0 * std::min(a, b) / (a + b);
    }
    part.trigram_term = trigram * weights::kTrigram;
    part.ready = true;
    if (m <= kCachedLengths) length_parts_[m] = part;
    return part;
}

// With n query and m candidate characters: only the k candidate characters that occur in
// the query at all (every one above U+00FF is counted as if it did) can pair up with equal
// query characters. So the Jaro matches M <= min(k, n), with the transposition term at most
// 1; the distance is at least max(n, m) - min(k, n); at most min(n, m) - 2 trigrams are shared.
double ScoreBound::upper_bound(std::u32string_view candidate) {
    const std::size_t n = query_.size(), m = candidate.size();
    if (n == 0 || m == 0) return 1.0 + kRoundingMargin;
    std::size_t common = 0;
    for (char32_t c : candidate) common += in_query(c);
    common = std::min(common, n);
    std::size_t prefix = 0;
    const std::size_t prefix_limit = std::min({weights::kMaxPrefix, n, m});
    while (prefix < prefix_limit && query_[prefix] == candidate[prefix]) ++prefix;

    const LengthPart part = length_part(m);
    const double k = static_cast<double>(common);
    double jaro = 0.0;
    if (common > 0) {
        // A third by multiplication: one rounding more, well inside the margin.
        const double j = (1.0 + k * inverse_length_ + k * part.inverse_m) * kOneThird;
        jaro = j + (1.0 - j) * weights::kPrefixBoost[prefix];
    }
    return part.trigram_term + jaro * weights::kJaroWinkler + k * part.edit_factor + kRoundingMargin;
}

}  // namespace pelgar::matching
