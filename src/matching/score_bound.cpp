#include "matching/score_bound.hpp"

#include <algorithm>

namespace pelgar::matching {

namespace {

// Far above the few units in the last place by which the computed score and the computed
// bound can each stray from their exact values.
constexpr double rounding_margin = 1e-9;

constexpr std::array<double, 5> prefix_boost{0.0, 0.1, 0.2, 3 * 0.1, 0.4};

// Beyond this many, other code points are only counted, not paired one by one.
constexpr std::size_t paired_high_limit = 32;

}  // namespace

ScoreBound::ScoreBound(std::u32string_view query) : query_(query) {
    for (char32_t c : query) {
        if (c < 256) {
            ++low_counts_[c];
        } else {
            high_chars_.push_back(c);
        }
    }
    scratch_ = low_counts_;
}

std::size_t ScoreBound::common_prefix(std::u32string_view candidate) const {
    const std::size_t limit = std::min<std::size_t>({4, query_.size(), candidate.size()});
    std::size_t length = 0;
    while (length < limit && query_[length] == candidate[length]) ++length;
    return length;
}

// With n query and m candidate characters, of which `common` can pair up equal characters:
// Jaro matches M <= common and the transposition term is at most 1, the distance is at
// least max(n, m) - common, and at most min(n, m) - 2 trigrams can be shared.
double ScoreBound::bound(std::size_t m, std::size_t common, std::size_t prefix) const {
    const std::size_t n = query_.size();
    if (n == 0 || m == 0) return 1.0 + rounding_margin;
    const double k = static_cast<double>(common);
    const double longer = static_cast<double>(std::max(n, m));
    double jaro = 0.0;
    if (common > 0) {
        const double j = (1.0 + k / static_cast<double>(n) + k / static_cast<double>(m)) / 3.0;
        const double p = prefix_boost[prefix];
        jaro = j + (1.0 - j) * p;
    }
    const double edit = k / longer * 0.35;
    double trigram;
    if (n < 3 && m < 3) {
        trigram = 1.0;
    } else if (n < 3 || m < 3) {
        trigram = 0.0;
    } else {
        const double a = static_cast<double>(n - 2), b = static_cast<double>(m - 2);
        trigram = 2.0 * std::min(a, b) / (a + b);
    }
    return trigram * 0.25 + jaro * 0.4 + edit + rounding_margin;
}

double ScoreBound::from_lengths(std::u32string_view candidate) const {
    return bound(candidate.size(), std::min(query_.size(), candidate.size()), common_prefix(candidate));
}

double ScoreBound::from_characters(std::u32string_view candidate) const {
    std::size_t common = 0;
    std::size_t high = 0;
    for (char32_t c : candidate) {
        if (c < 256) {
            if (scratch_[c] > 0) {
                --scratch_[c];
                ++common;
            }
        } else {
            ++high;
        }
    }
    for (char32_t c : candidate)
        if (c < 256) scratch_[c] = low_counts_[c];
    if (high == 0 || high_chars_.empty()) {
        // nothing above U+00FF to pair
    } else if (high_chars_.size() > paired_high_limit) {
        common += std::min(high, high_chars_.size());
    } else {
        high_scratch_.assign(high_chars_.begin(), high_chars_.end());
        for (char32_t c : candidate) {
            if (c < 256) continue;
            const auto found = std::find(high_scratch_.begin(), high_scratch_.end(), c);
            if (found != high_scratch_.end()) {
                *found = high_scratch_.back();
                high_scratch_.pop_back();
                ++common;
            }
        }
    }
    return bound(candidate.size(), common, common_prefix(candidate));
}

}  // namespace pelgar::matching
