#include "measures/jaro_winkler.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "common/stop.hpp"

namespace pelgar::measures {

namespace {

constexpr std::size_t kMaxPrefix = 4;

// Masks of one row per distinct character of a, each as long as b, are used while they
// stay within this many words per character of the two texts; past it (many distinct
// characters and long texts) the position lists take over, keeping memory linear.
constexpr std::size_t kMaskWordsPerCharacter = 8;
constexpr std::size_t kMaskWordsAlways = 4096;

inline std::uint32_t slot_hash(char32_t c, int shift) {
    return (static_cast<std::uint32_t>(c) * 0x9E3779B1u) >> shift;
}

// Bits lo..63 set; lo < 64.
inline std::uint64_t bits_from(std::size_t lo) { return ~std::uint64_t{0} << lo; }
// Bits 0..hi-1 set; hi <= 64.
inline std::uint64_t bits_below(std::size_t hi) { return hi >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << hi) - 1; }

}  // namespace

JaroWinklerPattern::JaroWinklerPattern(std::u32string_view a) : n_(a.size()) {
    char32_t* chars = local_chars_.data();
    std::uint32_t* rows = local_rows_.data();
    if (n_ > kInline) {
        heap_chars_.assign(a.begin(), a.end());
        heap_rows_.resize(n_);
        chars = heap_chars_.data();
        rows = heap_rows_.data();
    } else {
        std::copy(a.begin(), a.end(), chars);
    }

    // Latin-1 characters first, so that their rows fit the byte table.
    std::size_t others = 0;
    bool latin1_full = false;
    for (std::size_t j = 0; j < n_; ++j) {
        const char32_t c = a[j];
        if (c >= 256) {
            ++others;
            continue;
        }
        if (!latin1_full && latin1_[c] == 0) {
            latin1_[c] = static_cast<std::uint8_t>(rows_);
            latin1_full = rows_++ == 256;
        }
        rows[j] = latin1_[c];
    }
    // With every Latin-1 character taken, row 0 belongs to the last of them.
    if (latin1_full) sink_ = static_cast<std::uint32_t>(rows_++);

    if (others > 0) {
        // At most half full, so probes stay short and always end at an empty slot.
        int bits = 3;
        while ((std::size_t{1} << bits) < 2 * others) ++bits;
        slot_count_ = std::size_t{1} << bits;
        slot_shift_ = 32 - bits;
        Slot* slots = local_slots_.data();
        if (slot_count_ > kInlineSlots) {
            heap_slots_.resize(slot_count_);
            slots = heap_slots_.data();
        }
        std::fill(slots, slots + slot_count_, Slot{0, 0});
        const std::size_t mask = slot_count_ - 1;
        for (std::size_t j = 0; j < n_; ++j) {
            const char32_t c = a[j];
            if (c < 256) continue;
            std::size_t i = slot_hash(c, slot_shift_);
            while (slots[i].row != 0 && slots[i].key != c) i = (i + 1) & mask;
            if (slots[i].row == 0) slots[i] = Slot{c, static_cast<std::uint32_t>(rows_++)};
            rows[j] = slots[i].row;
        }
    }

    if (rows_ > local_masks_.size()) heap_masks_.resize(rows_);
}

std::uint32_t JaroWinklerPattern::row_of(char32_t c) const {
    if (c < 256) return latin1_[c];
    if (slot_count_ == 0) return sink_;
    const Slot* slots = this->slots();
    const std::size_t mask = slot_count_ - 1;
    std::size_t i = slot_hash(c, slot_shift_);
    while (slots[i].row != 0) {
        if (slots[i].key == c) return slots[i].row;
        i = (i + 1) & mask;
    }
    return sink_;
}

std::uint64_t* JaroWinklerPattern::mask_words(std::size_t count) const {
    if (count <= local_masks_.size()) return local_masks_.data();
    if (heap_masks_.size() < count) heap_masks_.resize(count);
    return heap_masks_.data();
}

double JaroWinklerPattern::score(std::u32string_view b) const {
    const std::size_t n = n_;
    const std::size_t m = b.size();
    if (n == 0) return m == 0 ? 1.0 : 0.0;
    if (m == 0) return 0.0;

    const std::size_t half = std::max(n, m) / 2;
    const std::size_t window = half >= 1 ? half - 1 : 0;
    if (m <= 64) return score_short(b, window);
    const std::size_t words = (m + 63) / 64;
    // rows_ * words > limit, written so that it cannot overflow.
    const std::size_t limit = kMaskWordsPerCharacter * (n + m) + kMaskWordsAlways;
    return rows_ > limit / words ? score_by_positions(b, window) : score_long(b, window);
}

// b fits one word: each character's positions in b are one mask, and clearing a bit
// once it is taken leaves exactly the unflagged positions. The lowest candidate bit
// inside the window is the first fit of the plain scan.
double JaroWinklerPattern::score_short(std::u32string_view b, std::size_t window) const {
    const std::size_t n = n_;
    const std::size_t m = b.size();
    const char32_t* a = chars();
    const std::uint32_t* rows = this->rows();
    std::uint64_t* masks = mask_words(rows_);
    std::memset(masks, 0, rows_ * sizeof(std::uint64_t));
    for (std::size_t k = 0; k < m; ++k) masks[row_of(b[k])] |= std::uint64_t{1} << k;

    // Past j = m + window - 1 the window lies beyond the end of b.
    const std::size_t last = std::min(n, m + window);
    std::uint64_t flagged_b = 0;
    char32_t matched_a[65];  // one spare: the slot past the last match is written too
    std::size_t matches = 0;
    for (std::size_t j = 0; j < last; ++j) {
        const std::size_t lo = j > window ? j - window : 0;
        const std::uint64_t in_window = bits_from(lo) & bits_below(j + window + 1);
        std::uint64_t& mask = masks[rows[j]];
        const std::uint64_t candidates = mask & in_window;
        // Lowest candidate, or 0 when there is none; written without a branch because
        // whether a character matches is not predictable.
        const std::uint64_t first = candidates & (~candidates + 1);
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
    return finish(matches, mismatched, m, b);
}

// The same matching with masks of several words, one row of `words` per character.
double JaroWinklerPattern::score_long(std::u32string_view b, std::size_t window) const {
    const std::size_t n = n_;
    const std::size_t m = b.size();
    const std::size_t words = (m + 63) / 64;
    const char32_t* a = chars();
    const std::uint32_t* rows = this->rows();
    std::uint64_t* masks = mask_words(rows_ * words);
    std::memset(masks, 0, rows_ * words * sizeof(std::uint64_t));
    for (std::size_t k = 0; k < m; ++k) masks[row_of(b[k]) * words + k / 64] |= std::uint64_t{1} << (k % 64);
    heap_flags_.assign(words, 0);
    std::uint64_t* flagged_b = heap_flags_.data();
    if (heap_matched_.size() < std::min(n, m)) heap_matched_.resize(std::min(n, m));
    char32_t* matched_a = heap_matched_.data();

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
            const std::uint64_t first = candidates & (~candidates + 1);
            row[wi] ^= first;
            flagged_b[wi] |= first;
            matched_a[matches++] = a[j];
            break;
        }
        poll(static_cast<std::int64_t>(wi - first_word) + 1);
    }
    return count_transpositions(matches, m, b);
}

// The same first fit without masks: the positions of each row in b, in order, and a
// cursor past those already taken or left behind by the window. The window's low end
// never moves back, so a position passed over is never a candidate again, and those
// taken are always the row's first candidate: the cursor's position is the first fit.
double JaroWinklerPattern::score_by_positions(std::u32string_view b, std::size_t window) const {
    const std::size_t n = n_;
    const std::size_t m = b.size();
    const char32_t* a = chars();
    const std::uint32_t* rows = this->rows();

    heap_b_rows_.resize(m);
    heap_starts_.assign(rows_ + 1, 0);
    for (std::size_t k = 0; k < m; ++k) {
        const std::uint32_t row = row_of(b[k]);
        heap_b_rows_[k] = row;
        ++heap_starts_[row + 1];
    }
    for (std::size_t r = 0; r < rows_; ++r) heap_starts_[r + 1] += heap_starts_[r];
    heap_cursors_.assign(heap_starts_.begin(), heap_starts_.end() - 1);
    heap_positions_.resize(m);
    for (std::size_t k = 0; k < m; ++k) heap_positions_[heap_cursors_[heap_b_rows_[k]]++] = k;
    heap_cursors_.assign(heap_starts_.begin(), heap_starts_.end() - 1);
    const std::size_t* positions = heap_positions_.data();
    const std::size_t* ends = heap_starts_.data() + 1;
    std::size_t* cursors = heap_cursors_.data();

    heap_flags_.assign((m + 63) / 64, 0);
    std::uint64_t* flagged_b = heap_flags_.data();
    if (heap_matched_.size() < std::min(n, m)) heap_matched_.resize(std::min(n, m));
    char32_t* matched_a = heap_matched_.data();

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
    return count_transpositions(matches, m, b);
}

// Matched characters of b in position order against those of a in match order.
double JaroWinklerPattern::count_transpositions(std::size_t matches, std::size_t m, std::u32string_view b) const {
    if (matches == 0) return 0.0;
    const std::uint64_t* flagged_b = heap_flags_.data();
    const char32_t* matched_a = heap_matched_.data();
    std::uint64_t mismatched = 0;
    std::size_t i = 0;
    for (std::size_t wi = 0; wi < (m + 63) / 64; ++wi) {
        for (std::uint64_t rest = flagged_b[wi]; rest != 0; rest &= rest - 1)
            mismatched += b[wi * 64 + static_cast<std::size_t>(std::countr_zero(rest))] != matched_a[i++];
    }
    return finish(matches, mismatched, m, b);
}

double JaroWinklerPattern::finish(std::uint64_t matches, std::uint64_t mismatched, std::size_t m,
                                  std::u32string_view b) const {
    const std::size_t n = n_;
    const char32_t* a = chars();
    const std::size_t limit = std::min({kMaxPrefix, n, m});
    std::size_t prefix = 0;
    while (prefix < limit && a[prefix] == b[prefix]) ++prefix;
    return jaro_winkler_from_counts(matches, mismatched, n, m, prefix);
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
