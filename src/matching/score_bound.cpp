#include "matching/score_bound.hpp"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "measures/score_weights.hpp"
#include "measures/trigram.hpp"
#include "text/utf8.hpp"

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

// The fewest edits between strings of n and m characters (the longer of `longer`) that
// share at most `shared` trigrams: each edit removes at most three of a string's trigrams.
std::size_t edits_at_least(std::size_t n, std::size_t m, std::size_t shared) {
    const std::size_t longer = std::max(n, m);
    std::size_t edits = longer - std::min(n, m);
    if (longer >= 3 && shared < longer - 2) edits = std::max(edits, (longer - 2 - shared + 2) / 3);
    return edits;
}

// The Jaro-Winkler similarity of M matches of which X are out of order, with the boost of `prefix`.
double jaro_winkler_of(double matches, double mismatched, double inverse_n, double inverse_m, std::size_t prefix) {
    const double j = ((matches - 0.5 * mismatched) / matches + matches * inverse_n + matches * inverse_m) * kOneThird;
    return j + (1.0 - j) * weights::kPrefixBoost[prefix];
}

// The greatest Jaro-Winkler similarity of strings of n and m characters at least `distance`
// edits apart, with at most `matches` Jaro matches and a prefix of at most `prefix`. The
// matched characters that stand in the same order in both strings form a common subsequence,
// so M - X <= LCS <= (n + m - distance) / 2 = lcs; and X is 0 or at least 2, since the matched
// characters of one string are a rearrangement of those of the other. For M up to lcs, X = 0
// and the similarity grows with M; above it, X = max(2, M - lcs) and the similarity is convex
// in M, so the greatest is at one of min(matches, lcs), lcs + 2 and matches.
double jaro_winkler_within(std::size_t n, std::size_t m, std::size_t distance, std::size_t matches,
                           std::size_t prefix) {
    if (matches == 0) return 0.0;
    const std::size_t lcs = (n + m - std::min(distance, n + m)) / 2;
    const double inverse_n = 1.0 / static_cast<double>(n), inverse_m = 1.0 / static_cast<double>(m);
    auto at = [&](std::size_t count) {
        const std::size_t out_of_order = count <= lcs ? 0 : std::min(count, std::max<std::size_t>(2, count - lcs));
        return jaro_winkler_of(static_cast<double>(count), static_cast<double>(out_of_order), inverse_n, inverse_m,
                               prefix);
    };
    double best = lcs > 0 ? at(std::min(matches, lcs)) : 0.0;
    if (matches > lcs) best = std::max({best, at(std::min(matches, lcs + 2)), at(matches)});
    return best;
}

// The joint ceiling of the three terms for strings of n and m characters, n and m not both 0:
// `common` bounds both the Jaro matches and the longest common subsequence, `shared` the
// shared trigrams, `prefix` the Winkler prefix. The distance is at least max(n, m) - common
// and at least what the shared trigrams allow; the Levenshtein part and the Jaro-Winkler
// ceiling both fall as the distance grows, so both are taken at that least distance.
double joint_ceiling(std::size_t n, std::size_t m, std::size_t common, std::size_t shared, std::size_t prefix) {
    const std::size_t longer = std::max(n, m), shorter = std::min(n, m);
    const double trigram_term = trigram_of_lengths(n, m, shared) * weights::kTrigram;
    common = std::min(common, shorter);
    if (common == 0) return trigram_term + kRoundingMargin;
    const std::size_t distance = std::max(edits_at_least(n, m, shared), longer - common);
    const double jaro = jaro_winkler_within(n, m, distance, common, std::min(prefix, shorter));
    const double edit = (1.0 - static_cast<double>(distance) / static_cast<double>(longer)) * weights::kEdit;
    return trigram_term + jaro * weights::kJaroWinkler + edit + kRoundingMargin;
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
    part.inverse_longer = std::min(inverse_length_, part.inverse_m);
    part.inverse_trigrams = n >= 3 && m >= 3 ? 1.0 / static_cast<double>(n + m - 4) : 0.0;
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
    return bound_with_trigram_term(candidate, length_part(candidate.size()).trigram_term);
}

// As upper_bound(candidate), with the trigram term of at most `shared_trigrams` shared and
// the distance at least what so few shared trigrams allow. Products by cached reciprocals
// stand for the quotients: one rounding more, well inside the margin. The candidate is read
// as code points or as UTF-8 of m characters alike.
template <class Text>
double ScoreBound::bound_with_shared(Text candidate, std::size_t m, std::size_t shared_trigrams) {
    const std::size_t n = query_.size();
    if (n == 0 || m == 0) return 1.0 + kRoundingMargin;
    std::size_t in_query_count = 0, prefix = 0;
    bool same_so_far = true;
    for (std::size_t pos = 0, i = 0; pos < candidate.size(); ++i) {
        const char32_t c = text::decode_next(candidate, pos);
        in_query_count += in_query(c);
        same_so_far = same_so_far && i < weights::kMaxPrefix && i < n && query_[i] == c;
        prefix += same_so_far;
    }
    const std::size_t common = std::min({in_query_count, n, m});
    const LengthPart& part = length_part(m);
    double trigram_term = part.trigram_term;
    if (n >= 3 && m >= 3) {
        const double shared = static_cast<double>(std::min({shared_trigrams, n - 2, m - 2}));
        trigram_term = (shared + shared) * part.inverse_trigrams * weights::kTrigram;
    }
    if (common == 0) return trigram_term + kRoundingMargin;
    const std::size_t distance = std::max(edits_at_least(n, m, shared_trigrams), std::max(n, m) - common);
    const double edit = (1.0 - static_cast<double>(distance) * part.inverse_longer) * weights::kEdit;
    const double jaro = jaro_winkler_ceiling(static_cast<double>(common), inverse_length_, part.inverse_m, prefix);
    return trigram_term + jaro * weights::kJaroWinkler + edit + kRoundingMargin;
}

double ScoreBound::upper_bound(std::u32string_view candidate, std::size_t shared_trigrams) {
    return bound_with_shared(candidate, candidate.size(), shared_trigrams);
}

double ScoreBound::upper_bound_utf8(std::string_view candidate, std::size_t length, std::size_t shared_trigrams) {
    return bound_with_shared(candidate, length, shared_trigrams);
}

double ScoreBound::upper_bound(std::u32string_view candidate, const CharBuckets& candidate_buckets) {
    if (query_.empty() || candidate.empty()) return 1.0 + kRoundingMargin;
    return bound_from_count(candidate, candidate_buckets.count_in(query_buckets_),
                            length_part(candidate.size()).trigram_term);
}

double ScoreBound::bound_with_trigram_term(std::u32string_view candidate, double trigram_term) {
    std::size_t in_query_count = 0;
    for (char32_t c : candidate) in_query_count += in_query(c);
    return bound_from_count(candidate, in_query_count, trigram_term);
}

std::size_t ScoreBound::common_prefix(std::u32string_view candidate) const {
    std::size_t prefix = 0;
    const std::size_t prefix_limit = std::min({weights::kMaxPrefix, query_.size(), candidate.size()});
    while (prefix < prefix_limit && query_[prefix] == candidate[prefix]) ++prefix;
    return prefix;
}

double ScoreBound::bound_from_count(std::u32string_view candidate, std::size_t in_query_count, double trigram_term) {
    const std::size_t n = query_.size(), m = candidate.size();
    const std::size_t common = std::min(in_query_count, n);
    const LengthPart& part = length_part(m);
    const double k = static_cast<double>(common);
    const double jaro = common > 0 ? jaro_winkler_ceiling(k, inverse_length_, part.inverse_m, common_prefix(candidate)) : 0.0;
    return trigram_term + jaro * weights::kJaroWinkler + k * part.edit_factor + kRoundingMargin;
}

namespace {

// The joint ceiling with every character of the shorter string matched and a full prefix.
double computed_length_bound(std::size_t n, std::size_t m, std::size_t shared) {
    if (n == 0 && m == 0) return 1.0 + kRoundingMargin;
    return joint_ceiling(n, m, std::min(n, m), shared, weights::kMaxPrefix);
}

// Past min(n, m) - 2 shared trigrams (or 0 under 3 characters) the bound no longer grows:
// the trigram term is full, and the distance is at least |n - m| anyway.
std::size_t useful_shared(std::size_t n, std::size_t m, std::size_t shared) {
    return std::min(shared, std::max<std::size_t>(std::min(n, m), 2) - 2);
}

// length_bound for both lengths up to kLengths, every useful shared count, made once.
class LengthBoundTable {
public:
    static constexpr std::size_t kLengths = 64;

    LengthBoundTable() {
        for (std::size_t n = 0; n <= kLengths; ++n) {
            for (std::size_t m = 0; m <= kLengths; ++m) {
                offsets_[n][m] = static_cast<std::uint32_t>(bounds_.size());
                for (std::size_t c = 0; c <= useful_shared(n, m, kLengths); ++c)
                    bounds_.push_back(computed_length_bound(n, m, c));
            }
        }
    }
    // n, m <= kLengths; shared <= useful_shared(n, m, shared).
    const double* row(std::size_t n, std::size_t m) const { return bounds_.data() + offsets_[n][m]; }

private:
    std::vector<double> bounds_;
    std::uint32_t offsets_[kLengths + 1][kLengths + 1];
};

const LengthBoundTable& length_bound_table() {
    static const LengthBoundTable table;
    return table;
}

}  // namespace

double ScoreBound::length_bound(std::size_t n, std::size_t m, std::size_t shared_trigrams) {
    shared_trigrams = useful_shared(n, m, shared_trigrams);
    if (n <= LengthBoundTable::kLengths && m <= LengthBoundTable::kLengths)
        return length_bound_table().row(n, m)[shared_trigrams];
    return computed_length_bound(n, m, shared_trigrams);
}

// The bound grows with the shared count, so the least count that reaches the cutoff is
// found by bisection.
std::size_t ScoreBound::min_shared_trigrams(std::size_t n, std::size_t m, double cutoff) {
    std::size_t low = 0, high = useful_shared(n, m, kUnknownShared);
    if (!(length_bound(n, m, high) >= cutoff)) return kUnreachable;
    while (low < high) {
        const std::size_t middle = low + (high - low) / 2;
        if (length_bound(n, m, middle) >= cutoff) high = middle; else low = middle + 1;
    }
    return low;
}

}  // namespace pelgar::matching
