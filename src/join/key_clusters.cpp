#include "join/key_clusters.hpp"

#include <algorithm>
#include <numeric>

namespace pelgar::join {

KeyClusters::KeyClusters(const KeyGroups& keys) : keys_(keys), sets_(keys.count()) {}

std::vector<std::size_t> KeyClusters::row_labels(bool equal_keys_join) const {
    std::vector<std::size_t> labels(keys_.row_count());
    std::iota(labels.begin(), labels.end(), std::size_t{0});
    if (!equal_keys_join) return labels;
    // The smallest first row of each root's cluster, then each row's.
    std::vector<std::uint32_t> smallest(keys_.count(), KeyGroups::kNoKey);
    for (std::uint32_t key = 0; key < keys_.count(); ++key) {
        std::uint32_t& s = smallest[sets_.root(key)];
        s = std::min(s, keys_.first_row(key));
    }
    for (std::uint32_t key = 0; key < keys_.count(); ++key)
        for (const std::uint32_t row : keys_.rows(key)) labels[row] = smallest[sets_.root(key)];
    return labels;
}

}  // namespace pelgar::join
