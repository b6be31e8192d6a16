#include "join/union_find.hpp"

#include <utility>

namespace pelgar::join {

UnionFind::UnionFind(std::size_t n) : parent_(std::make_unique<std::atomic<std::uint32_t>[]>(n)) {
    for (std::size_t x = 0; x < n; ++x) parent_[x].store(static_cast<std::uint32_t>(x), std::memory_order_relaxed);
}

// Path halving: each step points x at its grandparent, an ancestor all the same, so a
// lost race only leaves a longer path.
std::uint32_t UnionFind::root(std::uint32_t x) const {
    for (;;) {
        std::uint32_t parent = parent_[x].load(std::memory_order_acquire);
        if (parent == x) return x;
        const std::uint32_t grandparent = parent_[parent].load(std::memory_order_acquire);
        if (grandparent != parent) parent_[x].compare_exchange_weak(parent, grandparent, std::memory_order_acq_rel);
        x = grandparent;
    }
}

// The larger root goes under the smaller; only a root is ever relinked, and only by a
// successful exchange, so two threads uniting at once both end in one tree.
void UnionFind::unite(std::uint32_t a, std::uint32_t b) {
    for (;;) {
        a = root(a);
        b = root(b);
        if (a == b) return;
        if (a > b) std::swap(a, b);
        std::uint32_t expected = b;
        if (parent_[b].compare_exchange_strong(expected, a, std::memory_order_acq_rel)) return;
    }
}

}  // namespace pelgar::join
