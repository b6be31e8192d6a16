#include "measures/trigram.hpp"

#include <algorithm>

namespace pelgar::measures {

namespace {

// Three 21-bit code points side by side: equal keys exactly when the trigrams are equal.
inline std::uint64_t key_at(std::u32string_view text, std::size_t i) {
    return (static_cast<std::uint64_t>(text[i]) << 42) | (static_cast<std::uint64_t>(text[i + 1]) << 21) |
           static_cast<std::uint64_t>(text[i + 2]);
}

inline std::size_t trigram_count(std::u32string_view text) { return text.size() >= 3 ? text.size() - 2 : 0; }

inline std::uint32_t filter_bit(std::uint64_t key) {
    return static_cast<std::uint32_t>((key * 0x9E3779B97F4A7C15ull) >> 54);
}

void sort_keys(std::uint64_t* keys, std::size_t count) {
    if (count > 24) {
        std::sort(keys, keys + count);
        return;
    }
    // Insertion sort: the lists of short names are a handful of keys.
    for (std::size_t i = 1; i < count; ++i) {
        const std::uint64_t key = keys[i];
        std::size_t j = i;
        for (; j > 0 && keys[j - 1] > key; --j) keys[j] = keys[j - 1];
        keys[j] = key;
    }
}

// Size of the multiset intersection of two sorted lists: equal keys pair off one to one.
std::uint64_t common_count(const std::uint64_t* left, std::size_t n_left, const std::uint64_t* right,
                           std::size_t n_right) {
    std::uint64_t common = 0;
    std::size_t l = 0;
    std::size_t r = 0;
    while (l < n_left && r < n_right) {
        const std::uint64_t x = left[l];
        const std::uint64_t y = right[r];
        common += x == y;
        l += x <= y;
        r += y <= x;
    }
    return common;
}

}  // namespace

TrigramPattern::TrigramPattern(std::u32string_view a) {
    const std::size_t count = trigram_count(a);
    std::uint64_t* keys = keys_.reset(count);
    for (std::size_t i = 0; i < count; ++i) {
        keys[i] = key_at(a, i);
        const std::uint32_t bit = filter_bit(keys[i]);
        filter_[bit / 64] |= std::uint64_t{1} << (bit % 64);
    }
    sort_keys(keys, count);
}

double TrigramPattern::score(std::u32string_view b) {
    const std::uint64_t n_a = keys_.size();
    const std::uint64_t n_b = trigram_count(b);
    if (n_a == 0 && n_b == 0) return 1.0;
    if (n_a == 0 || n_b == 0) return 0.0;

    std::uint64_t* keys_b = scratch_.reset(n_b);
    // Dropping keys that are not in a leaves the multiset intersection as it was.
    std::size_t kept = 0;
    for (std::size_t i = 0; i < n_b; ++i) {
        const std::uint64_t key = key_at(b, i);
        const std::uint32_t bit = filter_bit(key);
        keys_b[kept] = key;
        kept += (filter_[bit / 64] >> (bit % 64)) & 1;
    }
    sort_keys(keys_b, kept);
    const std::uint64_t common = common_count(keys_.data(), n_a, keys_b, kept);

    return trigram_dice(common, n_a, n_b);
}

void trigrams(std::u32string_view text, std::vector<std::uint64_t>& out) {
    out.resize(trigram_count(text));
    for (std::size_t i = 0; i < out.size(); ++i) out[i] = key_at(text, i);
}

std::vector<std::uint64_t> trigrams(std::u32string_view text) {
    std::vector<std::uint64_t> keys;
    trigrams(text, keys);
    return keys;
}

double trigram_score(std::u32string_view a, std::u32string_view b) { return TrigramPattern(a).score(b); }

}  // namespace pelgar::measures
