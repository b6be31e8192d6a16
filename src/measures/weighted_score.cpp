#include "measures/weighted_score.hpp"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <string>

#include "text/utf8.hpp"

#if !defined(PELGAR_PORTABLE_SCAN) && (defined(__SSE2__) || defined(_M_X64) || (defined(_M_IX86_FP) && _M_IX86_FP >= 2))
#include <emmintrin.h>
#define PELGAR_SHARED_SSE2 1
#endif

namespace pelgar::measures {

namespace {

inline std::size_t slot_of(char32_t c, std::size_t slot_mask) {
    return static_cast<std::size_t>((std::uint64_t{c} * 0x9E3779B97F4A7C15ull) >> 32) & slot_mask;
}

inline double edit_part(std::uint64_t distance, std::uint64_t longer) {
    return longer == 0 ? 0.35 : (1.0 - static_cast<double>(distance) / static_cast<double>(longer)) * 0.35;
}

inline double combine(double edit, double jaro, double trigram) {
    // The trigram term goes on last; the other grouping differs in the last bit.
    double sum = jaro * 0.4;
    sum = sum + edit;
    return trigram * 0.25 + sum;
}

// The quotients of the shared path, each computed once by the very expression that the
// scores use, so that a lookup gives the same bits as the division.
struct Quotients {
    static constexpr std::size_t kMax = 64;
    double edit[kMax + 1][kMax + 1];           // [L][d]: (1.0 - d / L) * 0.35, 1 <= L
    double dice[2 * kMax - 3][kMax - 1];       // [n_a + n_b][common]
    double transposition[kMax + 1][kMax + 1];  // [M][X]: (X * -0.5 + M) / M, 1 <= M
    double ratio[kMax + 1][kMax + 1];          // [length][M]: M / length, 1 <= length

    Quotients() {
        for (std::size_t l = 1; l <= kMax; ++l) {
            for (std::size_t d = 0; d <= l; ++d) edit[l][d] = edit_part(d, l);
            for (std::size_t k = 0; k <= kMax; ++k) ratio[l][k] = static_cast<double>(k) / static_cast<double>(l);
        }
        for (std::size_t sum = 2; sum < 2 * kMax - 3; ++sum)
            for (std::size_t c = 0; c < kMax - 1; ++c) dice[sum][c] = trigram_dice(c, sum - 1, 1);
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

// popcount(plus) - popcount(minus), for the baseline instruction set that has no popcount:
// per-byte counts of both, offset so that one multiply adds up all eight differences.
inline std::int64_t count_difference(std::uint64_t plus, std::uint64_t minus) {
    auto byte_counts = [](std::uint64_t x) {
        x = x - ((x >> 1) & 0x5555555555555555ull);
        x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
        return (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;  // each byte 0..8
    };
    const std::uint64_t offset = byte_counts(plus) + (0x0808080808080808ull - byte_counts(minus));  // bytes 0..16
    return static_cast<std::int64_t>((offset * 0x0101010101010101ull) >> 56) - 64;
}

// Bits lo..63 set; lo < 64.
inline std::uint64_t bits_from(std::size_t lo) { return ~std::uint64_t{0} << lo; }
// Bits 0..hi-1 set; hi <= 64.
inline std::uint64_t bits_below(std::size_t hi) { return hi >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << hi) - 1; }

}  // namespace

WeightedScorer::WeightedScorer(std::u32string_view query)
    : query_length_(query.size()), distance_(query), jaro_winkler_(query), trigrams_(query) {
    if (query.size() > kShared) return;
    std::size_t others = 0;
    std::uint8_t rows = 0;
    for (const char32_t c : query) {
        if (c >= 256) {
            ++others;
        } else if (latin1_rows_[c] == 0) {
            latin1_rows_[c] = ++rows;
        }
    }
    std::size_t slots = 1;  // one empty slot answers "absent"
    if (others > 0) {
        slots = 8;
        while (slots < 2 * others) slots *= 2;
    }
    slot_mask_ = slots - 1;
    for (std::size_t j = 0; j < query.size(); ++j) {
        const char32_t c = query[j];
        query_[j] = c;
        if (c < 256) {
            query_rows_[j] = latin1_rows_[c];
            continue;
        }
        std::size_t slot = slot_of(c, slot_mask_);
        while (slot_keys_[slot] != 0 && slot_keys_[slot] != c) slot = (slot + 1) & slot_mask_;
        if (slot_keys_[slot] == 0) {
            slot_keys_[slot] = c;
            slot_rows_[slot] = ++rows;
        }
        query_rows_[j] = slot_rows_[slot];
    }
    for (std::size_t j = 0; j < query.size(); ++j) splat_rows_[j].fill(query_rows_[j]);
    for (std::size_t i = 1; i + 2 < query.size() && distinct_trigrams_; ++i)
        for (std::size_t k = 0; k < i; ++k) distinct_trigrams_ = distinct_trigrams_ && query.substr(k, 3) != query.substr(i, 3);
    quotients();
}

std::uint8_t WeightedScorer::row_of(char32_t c) const {
    if (c < 256) return latin1_rows_[c];
    std::size_t slot = slot_of(c, slot_mask_);
    while (slot_keys_[slot] != c && slot_keys_[slot] != 0) slot = (slot + 1) & slot_mask_;
    return slot_keys_[slot] == c ? slot_rows_[slot] : 0;
}

double WeightedScorer::score(std::u32string_view candidate) const {
    const std::size_t n = query_length_;
    const std::size_t m = candidate.size();
    if (n != 0 && m != 0 && n <= kShared && m <= kShared) {
        if (m <= 16) return distinct_trigrams_ ? score_shared<true, true>(candidate) : score_shared<true, false>(candidate);
        return distinct_trigrams_ ? score_shared<false, true>(candidate) : score_shared<false, false>(candidate);
    }
    // The edit distance is symmetric, so the query's pattern serves either order.
    const std::uint64_t distance = distance_.distance(candidate);
    const double edit = edit_part(distance, std::max(n, m));
    const double jaro = jaro_winkler_.score(candidate);
    const double trigram = trigrams_.score(candidate);
    return combine(edit, jaro, trigram);
}

// 1 <= n, m <= 64; kOneChunk: m <= 16; kDistinctTrigrams: distinct_trigrams_.
template <bool kOneChunk, bool kDistinctTrigrams>
double WeightedScorer::score_shared(std::u32string_view b) const {
    const std::size_t n = query_length_;
    const std::size_t m = b.size();
    const char32_t* a = query_.data();
    const std::size_t longer = std::max(n, m);
    const Quotients& quotient = quotients();

    // same(j): bit k set exactly when b[k] == a[j]. Characters that the query lacks get
    // row 0, which no query position has, and so do the padding bytes past m.
    alignas(16) std::uint8_t rows[kShared] = {};
    for (std::size_t k = 0; k < m; ++k) rows[k] = row_of(b[k]);
    const std::size_t chunks = kOneChunk ? 1 : (m + 15) / 16;
#ifdef PELGAR_SHARED_SSE2
    __m128i chunk[kShared / 16];
    for (std::size_t c = 0; c < chunks; ++c) chunk[c] = _mm_load_si128(reinterpret_cast<const __m128i*>(rows + 16 * c));
    auto same = [&](std::size_t j) {
        const __m128i row = _mm_load_si128(reinterpret_cast<const __m128i*>(splat_rows_[j].data()));
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

    const std::size_t half = longer / 2;
    const std::size_t window = half >= 1 ? half - 1 : 0;
    if (window != window_) {
        for (std::size_t j = 0; j < n; ++j)
            window_masks_[j] = bits_from(j > window ? j - window : 0) & bits_below(j + window + 1);
        window_ = window;
    }

    // One pass over a drives all three measures; their chains are independent.
    // Edit distance with b as the pattern (the distance is symmetric): bit i of a vector
    // stands for row i + 1 of the table, the columns follow a.
    std::uint64_t vp = ~std::uint64_t{0};
    std::uint64_t vn = 0;
    // Jaro-Winkler: the lowest unflagged equal position inside the window is the first
    // fit; positions flagged by other characters are never in same(j) anyway. Past the
    // last position whose window reaches into b the masks are empty.
    std::uint64_t flagged_b = 0;
    char32_t matched_a[kShared + 1];  // one spare: the slot past the last match is written too
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

        const std::uint64_t xv = eq | vn;
        const std::uint64_t xh = (((eq & vp) + vp) ^ vp) | eq;
        std::uint64_t hp = vn | ~(xh | vp);
        std::uint64_t hn = vp & xh;
        hp = (hp << 1) | 1;
        hn <<= 1;
        vp = hn | ~(xv | hp);
        vn = hp & xv;

        const std::uint64_t candidates = eq & window_masks_[j] & ~flagged_b;
        // Written without a branch because whether a character matches is not predictable.
        const std::uint64_t first = candidates & (~candidates + 1);
        flagged_b |= first;
        matched_a[matches] = a[j];
        matches += first != 0;

        const std::uint64_t trigram_mask = before_2 & (before_1 >> 1) & (eq >> 2);
        if constexpr (kDistinctTrigrams) {
            common += trigram_mask != 0;
        } else {
            const std::uint64_t free = trigram_mask & ~taken;
            const std::uint64_t pick = free & (~free + 1);
            taken |= pick;
            common += pick != 0;
        }
        before_2 = before_1;
        before_1 = eq;
    }

    // The last column's vertical steps add up to the distance.
    const auto distance = static_cast<std::uint64_t>(static_cast<std::int64_t>(n) +
                                                     count_difference(vp & bits_below(m), vn & bits_below(m)));

    double jaro = 0.0;
    if (matches != 0) {
        // The k-th flagged position of b against the k-th matched character of a, over
        // all of b: a fixed trip count keeps the loop exit predictable.
        std::size_t mismatched = 0;
        std::size_t i = 0;
        for (std::size_t k = 0; k < m; ++k) {
            const std::size_t flagged = (flagged_b >> k) & 1;
            mismatched += flagged & static_cast<std::size_t>(b[k] != matched_a[i]);
            i += flagged;
        }
        // Equal leading characters, at most 4, from the diagonal of the masks.
        std::uint64_t diagonal = 0;
        for (std::size_t p = 0; p < std::min<std::size_t>(4, n); ++p) diagonal |= same(p) & (std::uint64_t{1} << p);
        const auto prefix = static_cast<std::size_t>(std::countr_one(diagonal));
        jaro = jaro_winkler_from_quotients(quotient.transposition[matches][mismatched], quotient.ratio[n][matches],
                                           quotient.ratio[m][matches], prefix);
    }

    double trigram = 1.0;
    if (n >= 3 && m >= 3) {
        trigram = quotient.dice[n + m - 4][common];
    } else if (n >= 3 || m >= 3) {
        trigram = 0.0;
    }

    return combine(quotient.edit[longer][distance], jaro, trigram);
}

double weighted_score(std::u32string_view a, std::u32string_view b) { return WeightedScorer(a).score(b); }

double weighted_score(std::string_view a, std::string_view b) {
    const std::u32string left = text::decode_utf8(a);
    const std::u32string right = text::decode_utf8(b);
    return weighted_score(std::u32string_view(left), std::u32string_view(right));
}

}  // namespace pelgar::measures
