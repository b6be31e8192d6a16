#include "join/key_clusters.hpp"

#include <algorithm>
#include <numeric>

namespace pelgar::join {

KeyClusters::KeyClusters(const KeyGroups& keys)
    : keys_(keys), parent_(std::make_unique<std::atomic<std::uint32_t>[]>(keys.count())) {
    for (std::uint32_t key = 0; key < keys.count(); ++key) parent_[key].store(key, std::memory_order_relaxed);
}

// Path halving: each step points a key at its grandparent, an ancestor all the same, so a
// lost race only leaves a longer path.
std::uint32_t KeyClusters::root(std::uint32_t key) const {
    for (;;) {
        std::uint32_t parent = parent_[key].load(std::memory_order_acquire);
        if (parent == key) return key;
        const std::uint32_t grandparent = parent_[parent].load(std::memory_order_acquire);
        if (grandparent != parent)
            parent_[key].compare_exchange_weak(parent, grandparent, std::memory_order_acq_rel);
        key = grandparent;
    }
}

// The larger root goes under the smaller; only a root is ever relinked, and only by a
// successful exchange, so two probes uniting at once both end in one tree.
void KeyClusters::unite(std::uint32_t a, std::uint32_t b) {
    for (;;) {
        a = root(a);
        b = root(b);
        if (a == b) return;
        if (a > b) std::swap(a, b);
        std::uint32_t expected = b;
        if (parent_[b].compare_exchange_strong(expected, a, std::memory_order_acq_rel)) return;
    }
}

std::vector<std::size_t> KeyClusters::row_labels(bool equal_keys_join) const {
    std::vector<std::size_t> labels(keys_.row_count());
    std::iota(labels.begin(), labels.end(), std::size_t{0});
    if (!equal_keys_join) return labels;
    // The smallest first row of each root's cluster, then each row's.
    std::vector<std::uint32_t> smallest(keys_.count(), KeyGroups::kNoKey);
    for (std::uint32_t key = 0; key < keys_.count(); ++key) {
        std::uint32_t& s = smallest[root(key)];
        s = std::min(s, keys_.first_row(key));
    }
    for (std::uint32_t key = 0; key < keys_.count(); ++key)
        for (const std::uint32_t row : keys_.rows(key)) labels[row] = smallest[root(key)];
    return labels;
}

}  // namespace pelgar::join
