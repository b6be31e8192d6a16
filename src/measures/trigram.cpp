#include "measures/trigram.hpp"

#include <algorithm>
#include <cstddef>

namespace pelgar::measures {

std::vector<std::uint64_t> trigrams(std::u32string_view text) {
    std::vector<std::uint64_t> keys;
    if (text.size() < 3) return keys;
    keys.reserve(text.size() - 2);
    // Code points fit in 21 bits, so the packing is injective.
    for (std::size_t i = 0; i + 2 < text.size(); ++i) {
        keys.push_back((static_cast<std::uint64_t>(text[i]) << 42) |
                       (static_cast<std::uint64_t>(text[i + 1]) << 21) |
                       static_cast<std::uint64_t>(text[i + 2]));
    }
    return keys;
}

double trigram_score(std::u32string_view a, std::u32string_view b) {
    std::vector<std::uint64_t> left = trigrams(a);
    std::vector<std::uint64_t> right = trigrams(b);
    const std::uint64_t n_left = left.size();
    const std::uint64_t n_right = right.size();
    if (n_left == 0 && n_right == 0) return 1.0;
    if (n_left == 0 || n_right == 0) return 0.0;

    // The size of the multiset intersection: a merge of the two sorted key lists
    // pairs min(count in a, count in b) copies of every key.
    std::sort(left.begin(), left.end());
    std::sort(right.begin(), right.end());
    std::uint64_t common = 0;
    auto l = left.begin();
    auto r = right.begin();
    while (l != left.end() && r != right.end()) {
        if (*l < *r) {
            ++l;
        } else if (*r < *l) {
            ++r;
        } else {
            ++common;
            ++l;
            ++r;
        }
    }

    const double md = static_cast<double>(common);
    return (md + md) / static_cast<double>(n_left + n_right);
}

}  // namespace pelgar::measures
