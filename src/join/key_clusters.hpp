#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "join/key_groups.hpp"
#include "join/self_join.hpp"
#include "join/union_find.hpp"

namespace pelgar::join {

// Clusters of keys made as a self-join finds its pairs, from several probes at once. Pairs already in one
// cluster are not scored. Memory is one word per key, whatever the number of pairs.
class KeyClusters final : public PairSink {
public:
    explicit KeyClusters(const KeyGroups& keys);

    bool skip(std::uint32_t key, std::uint32_t partner) override { return sets_.root(key) == sets_.root(partner); }
    void found(std::uint32_t key, std::uint32_t partner, double) override { sets_.unite(key, partner); }

    // Per row, the smallest row of its cluster; the rows of one key are together when
    // `equal_keys_join` (they score 1.0, so whenever the threshold is at most that).
    std::vector<std::size_t> row_labels(bool equal_keys_join) const;

private:
    const KeyGroups& keys_;
    UnionFind sets_;
};

}  // namespace pelgar::join
