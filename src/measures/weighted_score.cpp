#include "measures/weighted_score.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>

#include "measures/score_weights.hpp"
#include "text/utf8.hpp"

// PELGAR_SCALAR_KERNELS (a CMake option) builds the portable path on any processor, for its tests.
#if !defined(PELGAR_SCALAR_KERNELS) && (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#include <emmintrin.h>
#define PELGAR_SHARED_SSE2 1
#endif

namespace pelgar::measures {

namespace {

using kernel::bits_below;
using kernel::lowest_bit;

inline double edit_part(std::uint64_t distance, std::uint64_t longer) {
    return longer == 0 ? weights::kEdit
                       : (1.0 - static_cast<double>(distance) / static_cast<double>(longer)) * weights::kEdit;
}

inline double combine(double edit, double jaro, double trigram) {
    // The trigram term goes on last; the other grouping differs in the last bit.
    double sum = jaro * weights::kJaroWinkler;
    sum = sum + edit;
    return trigram * weights::kTrigram + sum;
}

// The three measures one after the other, for strings that the merged pass does not take.
template <class Distance, class JaroWinkler, class Trigram>
double combine_separate(std::size_t n, std::size_t m, Distance&& distance, JaroWinkler&& jaro, Trigram&& trigram) {
    const double edit = edit_part(distance(), std::max(n, m));
    const double j = jaro();
    return combine(edit, j, trigram());
}

// The quotients of the merged pass, each computed once by the very expression that the
// scores use.
struct Quotients : lanes::ScoreQuotients {
    static constexpr std::size_t kMax = ShortQuery::kMaxLength;

    Quotients() : lanes::ScoreQuotients{} {
        for (std::size_t l = 1; l <= kMax; ++l) {
            for (std::size_t d = 0; d <= l; ++d) edit[l][d] = edit_part(d, l);
            for (std::size_t k = 0; k <= kMax; ++k) ratio[l][k] = static_cast<double>(k) / static_cast<double>(l);
        }
        for (std::size_t sum = 2; sum < kSums; ++sum)
            for (std::size_t c = 0; c < kCommon; ++c) dice[sum][c] = trigram_dice(c, sum - 1, 1);
        for (std::size_t k = 1; k <= kMax; ++k) {
            for (std::size_t x = 0; x <= k; ++x) {
                const double md = static_cast<double>(k);
                const double t = static_cast<double>(x) * -0.5;
                transposition[k][x] = (t + md) / md;
            }
        }
    }
};

const Quotients& quotients() {
    static const Quotients table;
    return table;
}

// The merged pass proper, for 1 <= n, m <= 64: same(j) gives the mask of the positions of b
// that hold a[j]; kDistinctTrigrams: no trigram occurs twice in a.
template <bool kDistinctTrigrams, class Same>
MergedCounts merged_counts(std::u32string_view a, std::u32string_view b, Same&& same) {
    const std::size_t n = a.size();
    const std::size_t m = b.size();
    const std::size_t window = match_window(n, m);

    // One pass over a drives all three measures; their chains are independent.
    // Edit distance with b as the pattern (the distance is symmetric): bit i of a vector
    // stands for row i + 1 of the table, the columns follow a.
    std::uint64_t vp = ~std::uint64_t{0};
    std::uint64_t vn = 0;
    // Jaro-Winkler: the lowest unflagged equal position inside the window is the first
    // fit; positions flagged by other characters are never in same(j) anyway. Past the
    // last position whose window reaches into b the masks are empty.
    std::uint64_t flagged_b = 0;
    // Positions j - window to j + window of b as two masks (window < 32), moved along with j.
    std::uint64_t window_from = ~std::uint64_t{0};
    std::uint64_t window_below = bits_below(window + 1);
    char32_t matched_a[ShortQuery::kMaxLength + 1];  // one spare: the slot past the last match is written too
    std::size_t matches = 0;
    // Trigrams: query trigram j - 2 equals candidate trigram k exactly when bit k is set in
    // same(j - 2) & same(j - 1) >> 1 & same(j) >> 2. Equal trigrams share one mask, so
    // taking any free bit per query trigram pairs off min(count in a, count in b); with
    // no repeats in the query, that is one per query trigram with a nonempty mask.
    std::uint64_t before_1 = 0;
    std::uint64_t before_2 = 0;
    std::uint64_t taken = 0;
    std::uint64_t common = 0;
    for (std::size_t j = 0; j < n; ++j) {
        const std::uint64_t eq = same(j);

        kernel::myers_step(eq, vp, vn);

        const std::uint64_t first = lowest_bit(eq & window_from & window_below & ~flagged_b);
        // The window of j + 1: one more position on top, one fewer below once j >= window.
        window_below = (window_below << 1) | 1;
        window_from <<= static_cast<unsigned>(j >= window);
        flagged_b |= first;
        matched_a[matches] = a[j];
        matches += first != 0;

        const std::uint64_t trigram_mask = before_2 & (before_1 >> 1) & (eq >> 2);
        if constexpr (kDistinctTrigrams) {
            common += trigram_mask != 0;
        } else {
            const std::uint64_t free = trigram_mask & ~taken;
            const std::uint64_t pick = lowest_bit(free);
            taken |= pick;
            common += pick != 0;
        }
        before_2 = before_1;
        before_1 = eq;
    }

    // The last column's vertical steps add up to the distance.
    const auto distance = static_cast<std::uint64_t>(static_cast<std::int64_t>(n) +
                                                     kernel::count_difference(vp & bits_below(m), vn & bits_below(m)));

    std::size_t mismatched = 0;
    std::size_t prefix = 0;
    if (matches != 0) {
        // The k-th flagged position of b against the k-th matched character of a, over
        // all of b: a fixed trip count keeps the loop exit predictable.
        std::size_t i = 0;
        for (std::size_t k = 0; k < m; ++k) {
            const std::size_t flagged = (flagged_b >> k) & 1;
            mismatched += flagged & static_cast<std::size_t>(b[k] != matched_a[i]);
            i += flagged;
        }
        // Equal leading characters, at most 4, from the diagonal of the masks.
        std::uint64_t diagonal = 0;
        for (std::size_t p = 0; p < std::min(weights::kMaxPrefix, n); ++p) diagonal |= same(p) & (std::uint64_t{1} << p);
        prefix = static_cast<std::size_t>(std::countr_one(diagonal));
    }
    return {static_cast<std::size_t>(distance), matches, mismatched, prefix, static_cast<std::size_t>(common)};
}

// The score from the counts of the merged pass over n query and m candidate characters.
double merged_score(const MergedCounts& counts, std::size_t n, std::size_t m) {
    const Quotients& quotient = quotients();
    double jaro = 0.0;
    if (counts.matches != 0)
        jaro = jaro_winkler_from_quotients(quotient.transposition[counts.matches][counts.mismatched],
                                           quotient.ratio[n][counts.matches], quotient.ratio[m][counts.matches],
                                           counts.prefix);
    double trigram = 1.0;
    if (n >= 3 && m >= 3) {
        trigram = quotient.dice[n + m - 4][counts.common];
    } else if (n >= 3 || m >= 3) {
        trigram = 0.0;
    }
    return combine(quotient.edit[std::max(n, m)][counts.distance], jaro, trigram);
}

// One pair of Latin-1 strings: a table indexed by character gives each mask of b directly,
// with no rows to set up. Only the entries that the pair reads are written.
MergedCounts latin1_pair_counts(std::u32string_view a, std::u32string_view b) {
    std::uint64_t masks[256];
    for (const char32_t c : a) masks[c] = 0;
    for (const char32_t c : b) masks[c] = 0;
    for (std::size_t k = 0; k < b.size(); ++k) masks[b[k]] |= std::uint64_t{1} << k;
    return merged_counts<false>(a, b, [&](std::size_t j) { return masks[a[j]]; });
}

// The positions of a candidate of m characters, by m; and each row as its own code.
struct LaneTables {
    std::uint64_t within[ShortQuery::kMaxLength + 1];
    std::uint8_t row_codes[ShortQuery::kMaxLength + 1];
    LaneTables() {
        for (std::size_t m = 0; m <= ShortQuery::kMaxLength; ++m) {
            within[m] = bits_below(m);
            row_codes[m] = static_cast<std::uint8_t>(m);
        }
    }
};

const LaneTables& lane_tables() {
    static const LaneTables tables;
    return tables;
}

bool all_latin1(std::u32string_view text) {
    char32_t seen = 0;
    for (const char32_t c : text) seen |= c;
    return seen < 256;
}

}  // namespace

ShortQuery::ShortQuery(std::u32string_view query, Use use) : n_(query.size()) {
    std::uint8_t rows = 0;
    for (std::size_t j = 0; j < n_; ++j) {
        const char32_t c = query[j];
        std::uint8_t& row = rows_.entry(c);
        if (row == 0) row = ++rows;
        distinct_ = rows;
        query_[j] = c;
        query_rows_[j] = row;
        std::fill_n(splat_rows_[j], 16, row);
    }
    if (use == Use::kManyCandidates) {
        distinct_trigrams_ = true;
        for (std::size_t i = 1; i + 2 < n_ && distinct_trigrams_; ++i)
            for (std::size_t k = 0; k < i; ++k)
                distinct_trigrams_ = distinct_trigrams_ && query.substr(k, 3) != query.substr(i, 3);
        // Positions j - window to j + window: from 0 to the window for j = 0, moving up by one
        // a step, the lower end held at 0 while j < window.
        for (std::size_t m = 1; m <= kMaxLength && n_ != 0; ++m) {
            const std::size_t window = match_window(n_, m);
            lane_window_[m] = bits_below(window + 1);
            lane_growing_[m] = bits_below(window);
        }
        lane_tables();
    }
    quotients();
}

lanes::LaneQuery ShortQuery::lane_query(const std::uint8_t* codes) const {
    return {n_,           query_rows_,   distinct_,          codes, lane_window_, lane_growing_,
            lane_tables().within, distinct_trigrams_, &quotients()};
}

lanes::LaneQuery ShortQuery::lane_query() const { return lane_query(lane_tables().row_codes); }

double ShortQuery::score(std::u32string_view candidate) const {
    MergedCounts counts;
    if (candidate.size() <= 16)
        counts = distinct_trigrams_ ? count_with<true, true>(candidate) : count_with<true, false>(candidate);
    else
        counts = distinct_trigrams_ ? count_with<false, true>(candidate) : count_with<false, false>(candidate);
    return score_of(counts, candidate.size());
}

double ShortQuery::score_of(const MergedCounts& counts, std::size_t m) const { return merged_score(counts, n_, m); }

// 1 <= n, m <= 64; kOneChunk: m <= 16; kDistinctTrigrams: distinct_trigrams_.
template <bool kOneChunk, bool kDistinctTrigrams>
MergedCounts ShortQuery::count_with(std::u32string_view b) const {
    const std::size_t m = b.size();

    // same(j): bit k set exactly when b[k] == a[j]. Characters that the query lacks get
    // row 0, which no query position has, and so do the padding bytes past m.
    alignas(16) std::uint8_t rows[kMaxLength] = {};
    for (std::size_t k = 0; k < m; ++k) rows[k] = rows_.find(b[k]);
    const std::size_t chunks = kOneChunk ? 1 : (m + 15) / 16;
#ifdef PELGAR_SHARED_SSE2
    __m128i chunk[kMaxLength / 16];
    for (std::size_t c = 0; c < chunks; ++c) chunk[c] = _mm_load_si128(reinterpret_cast<const __m128i*>(rows + 16 * c));
    auto same = [&](std::size_t j) {
        const __m128i row = _mm_load_si128(reinterpret_cast<const __m128i*>(splat_rows_[j]));
        std::uint64_t bits = 0;
        for (std::size_t c = 0; c < chunks; ++c)
            bits |= std::uint64_t{static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(chunk[c], row)))} << (16 * c);
        return bits;
    };
#else
    auto same = [&](std::size_t j) {
        std::uint64_t bits = 0;
        for (std::size_t k = 0; k < 16 * chunks; ++k) bits |= std::uint64_t{rows[k] == query_rows_[j]} << k;
        return bits;
    };
#endif

    return merged_counts<kDistinctTrigrams>(std::u32string_view(query_, n_), b, same);
}

WeightedScorer::WeightedScorer(std::u32string_view query)
    : query_length_(query.size()),
      short_(ShortQuery::fits(query.size()) ? query : std::u32string_view(), ShortQuery::Use::kManyCandidates),
      distance_(query),
      jaro_winkler_(query),
      trigrams_(query) {}

double WeightedScorer::score(std::u32string_view candidate) {
    if (short_query() && ShortQuery::fits(candidate.size())) return short_.score(candidate);
    // The edit distance is symmetric, so the query's pattern serves either order.
    return combine_separate(
        query_length_, candidate.size(), [&] { return distance_.distance(candidate); },
        [&] { return jaro_winkler_.score(candidate); }, [&] { return trigrams_.score(candidate); });
}

// One pair: no pattern for many candidates, just the merged pass or the one-off measures.
double weighted_score(std::u32string_view a, std::u32string_view b) {
    if (ShortQuery::fits(a.size()) && ShortQuery::fits(b.size())) {
        if (all_latin1(a) && all_latin1(b)) return merged_score(latin1_pair_counts(a, b), a.size(), b.size());
        return ShortQuery(a, ShortQuery::Use::kOnePair).score(b);
    }
    return combine_separate(
        a.size(), b.size(), [&] { return edit_distance(a, b); }, [&] { return jaro_winkler_score(a, b); },
        [&] { return trigram_score(a, b); });
}

double weighted_score(std::string_view a, std::string_view b) {
    kernel::SmallBuffer<char32_t, 256> buffer;
    char32_t* const start = buffer.reset(a.size() + b.size());  // at most one code point per byte
    char32_t* const a_end = text::decode_utf8_into(a, start);
    char32_t* const b_end = text::decode_utf8_into(b, a_end);
    return weighted_score(std::u32string_view(start, static_cast<std::size_t>(a_end - start)),
                          std::u32string_view(a_end, static_cast<std::size_t>(b_end - a_end)));
}

}  // namespace pelgar::measures
