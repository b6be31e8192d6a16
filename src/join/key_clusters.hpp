#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "join/key_groups.hpp"
#include "join/self_join.hpp"

namespace pelgar::join {

// Clusters of keys made as a self-join finds its pairs, from several probes at once: a
// lock-free union-find whose roots only ever move to smaller keys. Pairs already in one
// cluster are not scored. Memory is one word per key, whatever the number of pairs.
class KeyClusters final : public PairSink {
public:
    explicit KeyClusters(const KeyGroups& keys);

    bool skip(std::uint32_t key, std::uint32_t partner) override { return root(key) == root(partner); }
    void found(std::uint32_t key, std::uint32_t partner, double) override { unite(key, partner); }

    // Per row, the smallest row of its cluster; the rows of one key are together when
    // `equal_keys_join` (they score 1.0, so whenever the threshold is at most that).
    std::vector<std::size_t> row_labels(bool equal_keys_join) const;

private:
    std::uint32_t root(std::uint32_t key) const;
    void unite(std::uint32_t a, std::uint32_t b);

    const KeyGroups& keys_;
    std::unique_ptr<std::atomic<std::uint32_t>[]> parent_;
};

}  // namespace pelgar::join
