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
        const kernel::HorizontalSteps step = kernel::myers_step(eq_of(c), vp, vn);
        score += (step.hp & last) != 0;
        score -= (step.hn & last) != 0;
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

}  // namespace

// Longer patterns. A Latin-1 character's entry in `ids` is its dense row in `dense`; any
// other character's entry is its sparse row id. 0 means "not in the pattern" for both.
struct LevenshteinPattern::LongRows {
    struct SparseWord {
        std::size_t word;
        std::uint64_t mask;
    };

    explicit LongRows(std::u32string_view a);

    kernel::CharTable<std::uint32_t> ids;
    std::size_t stride = 0;             // words + 1: a zero word on top eases shifted reads
    std::vector<std::uint64_t> dense;   // dense Latin-1 rows, stride words each
    // Other rows stay sparse, so that memory grows with the length and not with length
    // times distinct characters: the nonzero words of row id, by word, are
    // sparse[sparse_begin[id]] to sparse[sparse_begin[id + 1] - 1].
    std::vector<SparseWord> sparse;
    std::vector<std::size_t> sparse_begin;
};

ShortMasks::ShortMasks(std::u32string_view pattern) {
    masks_[0] = 0;
    std::uint8_t rows = 0;
    for (std::size_t i = 0; i < pattern.size(); ++i) {
        std::uint8_t& row = rows_.entry(pattern[i]);
        if (row == 0) {
            row = ++rows;
            masks_[row] = 0;
        }
        masks_[row] |= std::uint64_t{1} << i;
    }
}

LevenshteinPattern::LongRows::LongRows(std::u32string_view a) {
    const std::size_t n = a.size();
    const std::size_t words = (n + 63) / 64;
    stride = words + 1;

    std::uint32_t dense_rows = 0;
    std::uint32_t sparse_rows = 0;
    for (const char32_t c : a) {
        std::uint32_t& id = ids.entry(c);
        if (id == 0) id = c < 256 ? ++dense_rows : ++sparse_rows;
    }
    dense.assign((std::size_t{dense_rows} + 1) * stride, 0);
    // For each sparse id, its count of distinct words.
    std::vector<std::size_t> last_word(std::size_t{sparse_rows} + 1, 0);
    std::vector<std::size_t> counts(std::size_t{sparse_rows} + 1, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint32_t id = ids.find(a[i]);
        if (a[i] < 256) {
            dense[id * stride + i / 64] |= std::uint64_t{1} << (i % 64);
            continue;
        }
        const std::size_t word = i / 64 + 1;  // + 1 so that 0 means "no word yet"
        if (last_word[id] != word) {
            last_word[id] = word;
            ++counts[id];
        }
    }

    sparse_begin.assign(counts.size() + 1, 0);
    for (std::size_t id = 1; id < counts.size(); ++id) sparse_begin[id + 1] = sparse_begin[id] + counts[id];
    sparse.assign(sparse_begin.back(), SparseWord{0, 0});
    std::vector<std::size_t> next(sparse_begin.begin(), sparse_begin.end() - 1);
    for (std::size_t i = 0; i < n; ++i) {
        if (a[i] < 256) continue;
        const std::uint32_t id = ids.find(a[i]);
        const std::size_t word = i / 64;
        if (next[id] == sparse_begin[id] || sparse[next[id] - 1].word != word) sparse[next[id]++] = {word, 0};
        sparse[next[id] - 1].mask |= std::uint64_t{1} << (i % 64);
    }
}

LevenshteinPattern::LevenshteinPattern(std::u32string_view a)
    : length_(a.size()), short_(a.size() <= 64 ? a : std::u32string_view()) {
    std::copy(a.begin(), a.end(), chars_.reset(a.size()));
    if (a.size() > 64) long_ = std::make_unique<LongRows>(a);
}

LevenshteinPattern::~LevenshteinPattern() = default;

std::uint64_t LevenshteinPattern::distance(std::u32string_view b) const {
    // A common prefix or suffix never changes the distance.
    const std::u32string_view a(chars_.data(), length_);
    const auto [prefix, suffix] = kernel::common_affixes(a, b);
    const std::size_t length = length_ - prefix - suffix;
    const std::u32string_view text = b.substr(prefix, b.size() - prefix - suffix);
    if (length == 0) return text.size();
    if (text.empty()) return length;

    if (!long_) return one_word_distance(length, text, [&](char32_t c) { return short_.eq(c) >> prefix; });
    if (length <= 64) {
        // Rows prefix to prefix + 63 of the full masks: at most two words of one row.
        const LongRows& rows = *long_;
        const std::size_t word = prefix / 64;
        const unsigned shift = static_cast<unsigned>(prefix % 64);
        return one_word_distance(length, text, [&](char32_t c) {
            std::uint64_t low = 0;
            std::uint64_t high = 0;
            const std::uint32_t id = rows.ids.find(c);
            if (c < 256) {
                const std::uint64_t* row = rows.dense.data() + id * rows.stride;
                low = row[word];
                high = row[word + 1];
            } else if (id != 0) {
                using SparseWord = LongRows::SparseWord;
                const SparseWord* first = rows.sparse.data() + rows.sparse_begin[id];
                const SparseWord* end = rows.sparse.data() + rows.sparse_begin[id + 1];
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
    const LongRows& rows = *long_;
    const std::size_t words = (length + 63) / 64;
    const std::size_t first_word = first_row / 64;
    const bool has_sparse = !rows.sparse.empty();
    // vp, vn, then one full row into which the sparse row of the current character is spread.
    std::vector<std::uint64_t> scratch(2 * words + (has_sparse ? rows.stride : 0), 0);
    std::uint64_t* vp = scratch.data();
    std::uint64_t* vn = vp + words;
    std::uint64_t* spread = vn + words;
    std::uint64_t spread_id = 0;

    const std::uint64_t* zero_row = rows.dense.data();
    auto row_of = [&](char32_t c) -> const std::uint64_t* {
        const std::uint32_t id = rows.ids.find(c);
        if (c < 256) return rows.dense.data() + id * rows.stride + first_word;
        if (id == 0) return zero_row + first_word;
        if (id != spread_id) {
            for (std::size_t k = rows.sparse_begin[spread_id]; k < rows.sparse_begin[spread_id + 1]; ++k)
                spread[rows.sparse[k].word] = 0;
            for (std::size_t k = rows.sparse_begin[id]; k < rows.sparse_begin[id + 1]; ++k)
                spread[rows.sparse[k].word] = rows.sparse[k].mask;
            spread_id = id;
        }
        return spread + first_word;
    };
    return many_words_distance(length, text, row_of, vp, vn);
}

std::uint64_t edit_distance(std::u32string_view a, std::u32string_view b) {
    const auto [prefix, suffix] = kernel::common_affixes(a, b);
    a = a.substr(prefix, a.size() - prefix - suffix);
    b = b.substr(prefix, b.size() - prefix - suffix);
    if (a.size() > b.size()) std::swap(a, b);  // the distance is symmetric
    if (a.empty()) return b.size();
    if (a.size() <= 64) {
        // One call, one pattern: just the masks, no copy of the pattern.
        const ShortMasks masks(a);
        return one_word_distance(a.size(), b, [&](char32_t c) { return masks.eq(c); });
    }
    return LevenshteinPattern(a).distance(b);
}

}  // namespace pelgar::measures
