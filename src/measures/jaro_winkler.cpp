#include "measures/jaro_winkler.hpp"

#include <algorithm>
#include <bit>

#include "common/stop.hpp"

namespace pelgar::measures {

namespace {

using kernel::bits_below;
using kernel::bits_from;
using kernel::lowest_bit;

// Masks of one row per distinct character of a, each as long as b, are used while they
// stay within this many words per character of the two texts; past it (many distinct
// characters and long texts) the position lists take over, keeping memory linear.
constexpr std::size_t kMaskWordsPerCharacter = 8;
constexpr std::size_t kMaskWordsAlways = 4096;

}  // namespace

JaroWinklerPattern::JaroWinklerPattern(std::u32string_view a) : n_(a.size()) {
    std::copy(a.begin(), a.end(), chars_.reset(n_));
    std::uint32_t* rows = rows_of_a_.reset(n_);
    for (std::size_t j = 0; j < n_; ++j) {
        std::uint32_t& row = row_of_.entry(a[j]);
        if (row == 0) row = rows_++;
        rows[j] = row;
    }
}

std::uint64_t* JaroWinklerPattern::fill_masks(std::u32string_view b, std::size_t words) {
    std::uint64_t* masks = masks_.reset(rows_ * words);
    std::fill_n(masks, rows_ * words, std::uint64_t{0});
    for (std::size_t k = 0; k < b.size(); ++k) masks[row_of_.find(b[k]) * words + k / 64] |= std::uint64_t{1} << (k % 64);
    return masks;
}

double JaroWinklerPattern::score(std::u32string_view b) {
    const std::size_t n = n_;
    const std::size_t m = b.size();
    if (n == 0) return m == 0 ? 1.0 : 0.0;
    if (m == 0) return 0.0;

    const std::size_t window = match_window(n, m);
    if (m <= 64) return score_short(b, window);
    const std::size_t words = (m + 63) / 64;
    // rows_ * words > limit, written so that it cannot overflow.
    const std::size_t limit = kMaskWordsPerCharacter * (n + m) + kMaskWordsAlways;
    return rows_ > limit / words ? score_by_positions(b, window) : score_long(b, window);
}

// b fits one word: each character's positions in b are one mask, and clearing a bit
// once it is taken leaves exactly the unflagged positions. The lowest candidate bit
// inside the window is the first fit of the plain scan.
double JaroWinklerPattern::score_short(std::u32string_view b, std::size_t window) {
    const std::size_t n = n_;
    const std::size_t m = b.size();
    const char32_t* a = chars_.data();
    const std::uint32_t* rows = rows_of_a_.data();
    std::uint64_t* masks = fill_masks(b, 1);

    // Past j = m + window - 1 the window lies beyond the end of b.
    const std::size_t last = std::min(n, m + window);
    std::uint64_t flagged_b = 0;
    char32_t matched_a[65];  // one spare: the slot past the last match is written too
    std::size_t matches = 0;
    for (std::size_t j = 0; j < last; ++j) {
        const std::size_t lo = j > window ? j - window : 0;
        const std::uint64_t in_window = bits_from(lo) & bits_below(j + window + 1);
        std::uint64_t& mask = masks[rows[j]];
        const std::uint64_t first = lowest_bit(mask & in_window);
        mask ^= first;
        flagged_b |= first;
        matched_a[matches] = a[j];
        matches += first != 0;
    }
    if (matches == 0) return 0.0;

    std::uint64_t mismatched = 0;
    std::size_t i = 0;
    for (std::uint64_t rest = flagged_b; rest != 0; rest &= rest - 1)
        mismatched += b[static_cast<std::size_t>(std::countr_zero(rest))] != matched_a[i++];
    return finish(matches, mismatched, b);
}

// The same matching with masks of several words, one row of `words` per character.
double JaroWinklerPattern::score_long(std::u32string_view b, std::size_t window) {
    const std::size_t n = n_;
    const std::size_t m = b.size();
    const std::size_t words = (m + 63) / 64;
    const char32_t* a = chars_.data();
    const std::uint32_t* rows = rows_of_a_.data();
    std::uint64_t* masks = fill_masks(b, words);
    std::uint64_t* flagged_b = flags_.reset(words);
    std::fill_n(flagged_b, words, std::uint64_t{0});
    char32_t* matched_a = matched_.reset(std::min(n, m));

    const std::size_t last = std::min(n, m + window);
    std::size_t matches = 0;
    StopPoll poll;
    for (std::size_t j = 0; j < last; ++j) {
        const std::size_t lo = j > window ? j - window : 0;
        const std::size_t hi = std::min(m, j + window + 1);  // lo < hi since j < m + window
        std::uint64_t* row = masks + rows[j] * words;
        const std::size_t first_word = lo / 64;
        const std::size_t last_word = (hi - 1) / 64;
        std::size_t wi = first_word;
        for (; wi <= last_word; ++wi) {
            std::uint64_t candidates = row[wi];
            if (wi == first_word) candidates &= bits_from(lo % 64);
            if (wi == last_word) candidates &= bits_below(hi - wi * 64);
            if (candidates == 0) continue;
            const std::uint64_t first = lowest_bit(candidates);
            row[wi] ^= first;
            flagged_b[wi] |= first;
            matched_a[matches++] = a[j];
            break;
        }
        poll(static_cast<std::int64_t>(wi - first_word) + 1);
    }
    return count_transpositions(matches, b);
}

// The same first fit without masks: the positions of each row in b, in order, and a
// cursor past those already taken or left behind by the window. The window's low end
// never moves back, so a position passed over is never a candidate again, and those
// taken are always the row's first candidate: the cursor's position is the first fit.
double JaroWinklerPattern::score_by_positions(std::u32string_view b, std::size_t window) {
    const std::size_t n = n_;
    const std::size_t m = b.size();
    const char32_t* a = chars_.data();
    const std::uint32_t* rows = rows_of_a_.data();

    b_rows_.resize(m);
    starts_.assign(rows_ + 1, 0);
    for (std::size_t k = 0; k < m; ++k) {
        const std::uint32_t row = row_of_.find(b[k]);
        b_rows_[k] = row;
        ++starts_[row + 1];
    }
    for (std::size_t r = 0; r < rows_; ++r) starts_[r + 1] += starts_[r];
    cursors_.assign(starts_.begin(), starts_.end() - 1);
    positions_.resize(m);
    for (std::size_t k = 0; k < m; ++k) positions_[cursors_[b_rows_[k]]++] = k;
    cursors_.assign(starts_.begin(), starts_.end() - 1);
    const std::size_t* positions = positions_.data();
    const std::size_t* ends = starts_.data() + 1;
    std::size_t* cursors = cursors_.data();

    const std::size_t words = (m + 63) / 64;
    std::uint64_t* flagged_b = flags_.reset(words);
    std::fill_n(flagged_b, words, std::uint64_t{0});
    char32_t* matched_a = matched_.reset(std::min(n, m));

    const std::size_t last = std::min(n, m + window);
    std::size_t matches = 0;
    StopPoll poll;
    for (std::size_t j = 0; j < last; ++j) {
        const std::size_t lo = j > window ? j - window : 0;
        const std::size_t hi = std::min(m, j + window + 1);
        const std::uint32_t row = rows[j];
        std::size_t at = cursors[row];
        const std::size_t end = ends[row];
        const std::size_t from = at;
        while (at < end && positions[at] < lo) ++at;
        if (at < end && positions[at] < hi) {
            const std::size_t k = positions[at++];
            flagged_b[k / 64] |= std::uint64_t{1} << (k % 64);
            matched_a[matches++] = a[j];
        }
        cursors[row] = at;
        poll(static_cast<std::int64_t>(at - from) + 1);
    }
    return count_transpositions(matches, b);
}

double JaroWinklerPattern::count_transpositions(std::size_t matches, std::u32string_view b) const {
    if (matches == 0) return 0.0;
    const std::uint64_t* flagged_b = flags_.data();
    const char32_t* matched_a = matched_.data();
    std::uint64_t mismatched = 0;
    std::size_t i = 0;
    for (std::size_t wi = 0; wi < (b.size() + 63) / 64; ++wi) {
        for (std::uint64_t rest = flagged_b[wi]; rest != 0; rest &= rest - 1)
            mismatched += b[wi * 64 + static_cast<std::size_t>(std::countr_zero(rest))] != matched_a[i++];
    }
    return finish(matches, mismatched, b);
}

double JaroWinklerPattern::finish(std::uint64_t matches, std::uint64_t mismatched, std::u32string_view b) const {
    const char32_t* a = chars_.data();
    const std::size_t limit = std::min({weights::kMaxPrefix, n_, b.size()});
    std::size_t prefix = 0;
    while (prefix < limit && a[prefix] == b[prefix]) ++prefix;
    return jaro_winkler_from_counts(matches, mismatched, n_, b.size(), prefix);
}

double jaro_winkler_from_counts(std::uint64_t matches, std::uint64_t mismatched, std::size_t n, std::size_t m,
                                std::size_t prefix) {
    const double md = static_cast<double>(matches);
    const double t = static_cast<double>(mismatched) * -0.5;
    const double u = (t + md) / md;
    const double r1 = md / static_cast<double>(n);
    const double r2 = md / static_cast<double>(m);
    return jaro_winkler_from_quotients(u, r1, r2, prefix);
}

double jaro_winkler_score(std::u32string_view a, std::u32string_view b) { return JaroWinklerPattern(a).score(b); }

}  // namespace pelgar::measures
