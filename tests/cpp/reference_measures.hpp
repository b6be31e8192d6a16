#pragma once

// Plain models of the measures, written straight from their algorithms with no tricks,
// for differential tests of the fast kernels. Each section belongs to one kernel.

#include <algorithm>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// ---- Jaro-Winkler and trigram references -------------------------------------------

namespace pelgar::reference {

// Greedy first fit driven by the first string, one byte flag per character.
inline double reference_jaro_winkler(std::u32string_view a, std::u32string_view b) {
    const std::size_t n = a.size();
    const std::size_t m = b.size();
    if (n == 0) return m == 0 ? 1.0 : 0.0;
    if (m == 0) return 0.0;

    const std::size_t half = std::max(n, m) / 2;
    const std::size_t window = half >= 1 ? half - 1 : 0;
    std::vector<unsigned char> flag_a(n, 0);
    std::vector<unsigned char> flag_b(m, 0);
    std::uint64_t matches = 0;
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t lo = j > window ? j - window : 0;
        const std::size_t hi = std::min(m, j + window + 1);
        for (std::size_t k = lo; k < hi; ++k) {
            if (flag_b[k] == 0 && a[j] == b[k]) {
                flag_a[j] = 1;
                flag_b[k] = 1;
                ++matches;
                break;
            }
        }
    }
    if (matches == 0) return 0.0;

    std::uint64_t mismatched = 0;
    std::size_t k = 0;
    for (std::size_t j = 0; j < n; ++j) {
        if (flag_a[j] == 0) continue;
        while (flag_b[k] == 0) ++k;
        if (a[j] != b[k]) ++mismatched;
        ++k;
    }

    const double md = static_cast<double>(matches);
    const double t = static_cast<double>(mismatched) * -0.5;
    const double u = (t + md) / md;
    const double r1 = md / static_cast<double>(n);
    const double r2 = md / static_cast<double>(m);
    const double s = r2 + r1;
    const double jaro = (u + s) / 3.0;

    const double boost[5] = {0.0, 0.1, 0.2, std::bit_cast<double>(std::uint64_t{0x3FD3333333333334}), 0.4};
    const std::size_t limit = std::min({std::size_t{4}, n, m});
    std::size_t prefix = 0;
    while (prefix < limit && a[prefix] == b[prefix]) ++prefix;
    return ((1.0 - jaro) * boost[prefix]) + jaro;
}

// Trigrams as small strings of their own, counted in a hash table.
inline std::vector<std::u32string> reference_trigram_list(std::u32string_view text) {
    std::vector<std::u32string> list;
    for (std::size_t i = 0; i + 3 <= text.size(); ++i) list.emplace_back(text.substr(i, 3));
    return list;
}

inline double reference_trigram(std::u32string_view a, std::u32string_view b) {
    const std::vector<std::u32string> list_a = reference_trigram_list(a);
    const std::vector<std::u32string> list_b = reference_trigram_list(b);
    if (list_a.empty() && list_b.empty()) return 1.0;
    if (list_a.empty() || list_b.empty()) return 0.0;

    std::unordered_map<std::u32string, int> counts;
    for (const std::u32string& t : list_a) ++counts[t];
    int matches = 0;
    for (const std::u32string& t : list_b) {
        auto it = counts.find(t);
        if (it != counts.end() && it->second > 0) {
            --it->second;
            ++matches;
        }
    }
    const double md = static_cast<double>(matches);
    const std::uint64_t total = static_cast<std::uint64_t>(list_a.size()) + list_b.size();
    return (md + md) / static_cast<double>(total);
}

}  // namespace pelgar::reference

// ---- end of Jaro-Winkler and trigram references ------------------------------------

// ---- Levenshtein reference ---------------------------------------------------------

#include <utility>

namespace pelgar::reference {

// The plain table, two rows of it: row i needs only row i - 1.
inline std::uint64_t reference_edit_distance(std::u32string_view a, std::u32string_view b) {
    const std::size_t m = b.size();
    std::vector<std::uint64_t> previous(m + 1);
    std::vector<std::uint64_t> current(m + 1);
    for (std::size_t j = 0; j <= m; ++j) previous[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        const char32_t ai = a[i - 1];
        current[0] = i;
        for (std::size_t j = 1; j <= m; ++j) {
            if (ai == b[j - 1]) {
                current[j] = previous[j - 1];
            } else {
                current[j] = 1 + std::min({previous[j - 1], previous[j], current[j - 1]});
            }
        }
        std::swap(previous, current);
    }
    return previous[m];
}

}  // namespace pelgar::reference

// ---- end of Levenshtein reference --------------------------------------------------

// ---- combined score reference ------------------------------------------------------

namespace pelgar::reference {

// The combined score over the plain kernels, in the same grouping.
inline double reference_weighted(std::u32string_view a, std::u32string_view b) {
    const std::uint64_t d = reference_edit_distance(a, b);
    const std::uint64_t longer = std::max(a.size(), b.size());
    const double part = longer == 0 ? 0.35 : (1.0 - static_cast<double>(d) / static_cast<double>(longer)) * 0.35;
    const double j = reference_jaro_winkler(a, b);
    const double t = reference_trigram(a, b);
    double s = j * 0.4;
    s = s + part;
    return t * 0.25 + s;
}

}  // namespace pelgar::reference
