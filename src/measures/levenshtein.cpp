#include "measures/levenshtein.hpp"

#include <algorithm>
#include <utility>

#include "common/stop.hpp"

// Bit i of a vector stands for row i + 1 of the distance table, rows following the
// pattern and columns the text. VP/VN hold the vertical steps D[i][j] - D[i-1][j] of
// the current column (+1 / -1), and every operation below (and, or, not, add, shift
// left) carries information only towards higher bits, so garbage above the pattern's
// last row never reaches it, and a vector of several words is just one wide integer.

namespace pelgar::measures {

namespace {

// The last row of the current column changes by hp - hn from one column to the next.
template <class EqOf>
std::uint64_t one_word_distance(std::size_t length, std::u32string_view text, EqOf eq_of) {
    std::uint64_t vp = ~std::uint64_t{0};  // first column: D[i][0] = i
    std::uint64_t vn = 0;
    std::uint64_t score = length;
    const std::uint64_t last = std::uint64_t{1} << (length - 1);
    for (const char32_t c : text) {
        const std::uint64_t eq = eq_of(c);
        const std::uint64_t xv = eq | vn;
        const std::uint64_t xh = (((eq & vp) + vp) ^ vp) | eq;
        std::uint64_t hp = vn | ~(xh | vp);
        std::uint64_t hn = vp & xh;
        score += (hp & last) != 0;
        score -= (hn & last) != 0;
        hp = (hp << 1) | 1;  // first row: D[0][j] = j
        hn <<= 1;
        vp = hn | ~(xv | hp);
        vn = hp & xv;
    }
    return score;
}

struct Carries {
    std::uint64_t add = 0;
    std::uint64_t hp = 1;  // first row: D[0][j] = j
    std::uint64_t hn = 0;
};

// One word of the wide-integer step above; hp and hn come back unshifted.
inline void advance_word(std::uint64_t eq, std::uint64_t& vp, std::uint64_t& vn, Carries& carry,
                         std::uint64_t& hp, std::uint64_t& hn) {
    const std::uint64_t xv = eq | vn;
    const std::uint64_t x = eq & vp;
    const std::uint64_t partial = x + vp;
    const std::uint64_t sum = partial + carry.add;
    carry.add = static_cast<std::uint64_t>(partial < x) | static_cast<std::uint64_t>(sum < partial);
    const std::uint64_t xh = (sum ^ vp) | eq;
    hp = vn | ~(xh | vp);
    hn = vp & xh;
    const std::uint64_t hp_shifted = (hp << 1) | carry.hp;
    const std::uint64_t hn_shifted = (hn << 1) | carry.hn;
    carry.hp = hp >> 63;
    carry.hn = hn >> 63;
    vp = hn_shifted | ~(xv | hp_shifted);
    vn = hp_shifted & xv;
}

template <class RowOf>
std::uint64_t many_words_distance(std::size_t length, std::u32string_view text, RowOf row_of, std::uint64_t* vp,
                                  std::uint64_t* vn) {
    const std::size_t words = (length + 63) / 64;
    std::fill(vp, vp + words, ~std::uint64_t{0});
    std::fill(vn, vn + words, std::uint64_t{0});
    std::uint64_t score = length;
    const unsigned last_bit = static_cast<unsigned>((length - 1) % 64);
    StopPoll poll;
    for (const char32_t c : text) {
        poll(static_cast<std::int64_t>(words));
        const std::uint64_t* row = row_of(c);
        Carries carry;
        std::uint64_t hp = 0;
        std::uint64_t hn = 0;
        for (std::size_t w = 0; w < words; ++w) advance_word(row[w], vp[w], vn[w], carry, hp, hn);
        score += (hp >> last_bit) & 1;
        score -= (hn >> last_bit) & 1;
    }
    return score;
}

std::size_t slots_for(std::size_t keys) {
    std::size_t slots = 8;
    while (slots < 2 * keys) slots *= 2;
    return slots;
}

std::size_t slot_of(char32_t c, std::size_t slot_mask) {
    return static_cast<std::size_t>((std::uint64_t{c} * 0x9E3779B97F4A7C15ull) >> 32) & slot_mask;
}

// The slot that holds c, or the empty slot where it would go.
std::size_t probe(char32_t c, const char32_t* keys, std::size_t slot_mask) {
    std::size_t slot = slot_of(c, slot_mask);
    while (keys[slot] != c && keys[slot] != 0) slot = (slot + 1) & slot_mask;
    return slot;
}

// Sets a bit of c's mask, adding c to the map if needed.
void add_bit(char32_t c, std::uint64_t bit, char32_t* keys, std::uint64_t* values, std::size_t slot_mask) {
    const std::size_t slot = probe(c, keys, slot_mask);
    if (keys[slot] == 0) {
        keys[slot] = c;
        values[slot] = 0;
    }
    values[slot] |= bit;
}

// The value stored for c, 0 when c is absent.
std::uint64_t find(char32_t c, const char32_t* keys, const std::uint64_t* values, std::size_t slot_mask) {
    const std::size_t slot = probe(c, keys, slot_mask);
    return keys[slot] == c ? values[slot] : 0;
}

}  // namespace

LevenshteinPattern::LevenshteinPattern(std::u32string_view a) : length_(a.size()), words_((a.size() + 63) / 64) {
    if (words_ <= 1) {
        build_single_word(a);
    } else {
        build_multi_word(a);
    }
}

void LevenshteinPattern::build_single_word(std::u32string_view a) {
    std::uint16_t masks = 0;
    std::size_t others = 0;
    short_masks_.data[0] = 0;
    for (std::size_t i = 0; i < a.size(); ++i) {
        const char32_t c = a[i];
        short_chars_.data[i] = c;
        if (c >= 256) {
            ++others;
            continue;
        }
        if (low_[c] == 0) {
            low_[c] = ++masks;
            short_masks_.data[masks] = 0;
        }
        short_masks_.data[low_[c]] |= std::uint64_t{1} << i;
    }
    const std::size_t slots = others == 0 ? 1 : slots_for(others);  // one empty slot answers "absent"
    slot_mask_ = slots - 1;
    std::fill_n(short_keys_.data, slots, 0);
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (a[i] >= 256) add_bit(a[i], std::uint64_t{1} << i, short_keys_.data, short_values_.data, slot_mask_);
    }
}

void LevenshteinPattern::build_multi_word(std::u32string_view a) {
    const std::size_t n = a.size();
    stride_ = words_ + 1;
    long_chars_.assign(a.begin(), a.end());

    std::uint16_t dense_rows = 0;
    std::size_t others = 0;
    for (const char32_t c : a) {
        if (c >= 256) {
            ++others;
        } else if (low_[c] == 0) {
            low_[c] = ++dense_rows;
        }
    }
    rows_.assign((std::size_t{dense_rows} + 1) * stride_, 0);
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] < 256) rows_[low_[a[i]] * stride_ + i / 64] |= std::uint64_t{1} << (i % 64);
    }

    long_keys_.assign(1, 0);  // one empty slot answers "absent"
    long_values_.assign(1, 0);
    slot_mask_ = 0;
    if (others == 0) return;

    // The map grows with the distinct characters, keeping its load at most 1/2.
    auto grow = [&] {
        std::vector<char32_t> keys(std::max<std::size_t>(8, 2 * long_keys_.size()), 0);
        std::vector<std::uint64_t> values(keys.size(), 0);
        const std::size_t mask = keys.size() - 1;
        for (std::size_t old = 0; old < long_keys_.size(); ++old) {
            if (long_keys_[old] == 0) continue;
            const std::size_t slot = probe(long_keys_[old], keys.data(), mask);
            keys[slot] = long_keys_[old];
            values[slot] = long_values_[old];
        }
        long_keys_.swap(keys);
        long_values_.swap(values);
        slot_mask_ = mask;
    };

    // Row ids from 1 in order of first appearance, and for each id its count of distinct words.
    std::vector<std::size_t> last_word(1, 0);
    std::vector<std::size_t> counts(1, 0);
    std::vector<std::size_t> ids;
    ids.reserve(others);
    for (std::size_t i = 0; i < n; ++i) {
        const char32_t c = a[i];
        if (c < 256) continue;
        std::size_t slot = probe(c, long_keys_.data(), slot_mask_);
        if (long_keys_[slot] == 0) {
            const std::size_t distinct = last_word.size();  // once c is in
            if (2 * distinct > long_keys_.size()) {
                grow();
                slot = probe(c, long_keys_.data(), slot_mask_);
            }
            long_keys_[slot] = c;
            long_values_[slot] = distinct;
            last_word.push_back(0);
            counts.push_back(0);
        }
        const auto id = static_cast<std::size_t>(long_values_[slot]);
        ids.push_back(id);
        const std::size_t word = i / 64 + 1;  // + 1 so that 0 means "no word yet"
        if (last_word[id] != word) {
            last_word[id] = word;
            ++counts[id];
        }
    }

    sparse_begin_.assign(counts.size() + 1, 0);
    for (std::size_t id = 1; id < counts.size(); ++id) sparse_begin_[id + 1] = sparse_begin_[id] + counts[id];
    sparse_.assign(sparse_begin_.back(), SparseWord{0, 0});
    std::vector<std::size_t> next(sparse_begin_.begin(), sparse_begin_.end() - 1);
    std::size_t k = 0;
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] < 256) continue;
        const std::size_t id = ids[k++];
        const std::size_t word = i / 64;
        if (next[id] == sparse_begin_[id] || sparse_[next[id] - 1].word != word) sparse_[next[id]++] = {word, 0};
        sparse_[next[id] - 1].mask |= std::uint64_t{1} << (i % 64);
    }
}

std::uint64_t LevenshteinPattern::distance(std::u32string_view b) const {
    // A common prefix or suffix never changes the distance.
    const char32_t* a = words_ <= 1 ? short_chars_.data : long_chars_.data();
    const std::size_t n = length_;
    const std::size_t m = b.size();
    std::size_t prefix = 0;
    const std::size_t shorter = std::min(n, m);
    while (prefix < shorter && a[prefix] == b[prefix]) ++prefix;
    std::size_t suffix = 0;
    while (prefix + suffix < shorter && a[n - 1 - suffix] == b[m - 1 - suffix]) ++suffix;
    const std::size_t length = n - prefix - suffix;
    const std::u32string_view text = b.substr(prefix, m - prefix - suffix);
    if (length == 0) return text.size();
    if (text.empty()) return length;

    if (words_ == 1) {
        return one_word_distance(length, text, [&](char32_t c) {
            const std::uint64_t mask =
                c < 256 ? short_masks_.data[low_[c]] : find(c, short_keys_.data, short_values_.data, slot_mask_);
            return mask >> prefix;
        });
    }
    if (length <= 64) {
        // Rows prefix to prefix + 63 of the full masks: at most two words of one row.
        const std::size_t word = prefix / 64;
        const unsigned shift = static_cast<unsigned>(prefix % 64);
        return one_word_distance(length, text, [&](char32_t c) {
            std::uint64_t low = 0;
            std::uint64_t high = 0;
            if (c < 256) {
                const std::uint64_t* row = rows_.data() + low_[c] * stride_;
                low = row[word];
                high = row[word + 1];
            } else if (const std::uint64_t id = find(c, long_keys_.data(), long_values_.data(), slot_mask_);
                       id != 0) {
                const SparseWord* first = sparse_.data() + sparse_begin_[id];
                const SparseWord* end = sparse_.data() + sparse_begin_[id + 1];
                const SparseWord* at =
                    std::lower_bound(first, end, word, [](const SparseWord& s, std::size_t w) { return s.word < w; });
                if (at != end && at->word == word) low = (at++)->mask;
                if (at != end && at->word == word + 1) high = at->mask;
            }
            return shift == 0 ? low : (low >> shift) | (high << (64 - shift));
        });
    }
    // Only whole words of the prefix are dropped: rows then start on a word boundary,
    // and keeping up to 63 equal characters on both sides leaves the distance unchanged.
    const std::size_t kept = prefix % 64;
    return multi_word_distance(prefix - kept, length + kept, b.substr(prefix - kept, text.size() + kept));
}

std::uint64_t LevenshteinPattern::multi_word_distance(std::size_t first_row, std::size_t length,
                                                      std::u32string_view text) const {
    const std::size_t words = (length + 63) / 64;
    const std::size_t first_word = first_row / 64;
    const bool has_sparse = !sparse_.empty();
    // vp, vn, then one full row into which the sparse row of the current character is spread.
    std::vector<std::uint64_t> scratch(2 * words + (has_sparse ? stride_ : 0), 0);
    std::uint64_t* vp = scratch.data();
    std::uint64_t* vn = vp + words;
    std::uint64_t* spread = vn + words;
    std::uint64_t spread_id = 0;

    const char32_t* keys = long_keys_.data();
    const std::uint64_t* values = long_values_.data();
    const std::uint64_t* zero_row = rows_.data();
    auto row_of = [&](char32_t c) -> const std::uint64_t* {
        if (c < 256) return rows_.data() + low_[c] * stride_ + first_word;
        const std::uint64_t id = find(c, keys, values, slot_mask_);
        if (id == 0) return zero_row + first_word;
        if (id != spread_id) {
            for (std::size_t k = sparse_begin_[spread_id]; k < sparse_begin_[spread_id + 1]; ++k)
                spread[sparse_[k].word] = 0;
            for (std::size_t k = sparse_begin_[id]; k < sparse_begin_[id + 1]; ++k)
                spread[sparse_[k].word] = sparse_[k].mask;
            spread_id = id;
        }
        return spread + first_word;
    };
    return many_words_distance(length, text, row_of, vp, vn);
}

std::uint64_t edit_distance(std::u32string_view a, std::u32string_view b) {
    std::size_t prefix = 0;
    const std::size_t shorter = std::min(a.size(), b.size());
    while (prefix < shorter && a[prefix] == b[prefix]) ++prefix;
    std::size_t suffix = 0;
    while (prefix + suffix < shorter && a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix]) ++suffix;
    a = a.substr(prefix, a.size() - prefix - suffix);
    b = b.substr(prefix, b.size() - prefix - suffix);
    if (a.size() > b.size()) std::swap(a, b);  // the distance is symmetric
    if (a.empty()) return b.size();

    if (a.size() <= 64) {
        // One call, one pattern: only the table entries that will be read are cleared,
        // a few bytes instead of the whole table of a LevenshteinPattern.
        std::uint64_t masks[256];
        std::size_t others = 0;
        for (const char32_t c : a) {
            if (c < 256) masks[c] = 0; else ++others;
        }
        for (const char32_t c : b) {
            if (c < 256) masks[c] = 0;
        }
        char32_t keys[128];
        std::uint64_t values[128];
        const std::size_t slot_mask = (others == 0 ? 1 : slots_for(others)) - 1;
        std::fill_n(keys, slot_mask + 1, 0);
        for (std::size_t i = 0; i < a.size(); ++i) {
            const std::uint64_t bit = std::uint64_t{1} << i;
            if (a[i] < 256) {
                masks[a[i]] |= bit;
            } else {
                add_bit(a[i], bit, keys, values, slot_mask);
            }
        }
        return one_word_distance(a.size(), b, [&](char32_t c) {
            return c < 256 ? masks[c] : find(c, keys, values, slot_mask);
        });
    }
    return LevenshteinPattern(a).distance(b);
}

}  // namespace pelgar::measures
