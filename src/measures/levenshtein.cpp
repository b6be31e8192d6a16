#include "measures/levenshtein.hpp"

#include <algorithm>
#include <utility>
#include <vector>

namespace pelgar::measures {

std::uint64_t edit_distance(std::u32string_view a, std::u32string_view b) {
    const std::size_t m = b.size();
    // Row i of the table needs only row i - 1, so two rows give the same last cell.
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

}  // namespace pelgar::measures
