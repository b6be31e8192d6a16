#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "join/self_join.hpp"
#include "join/union_find.hpp"
#include "records/record_index.hpp"
#include "records/record_search.hpp"

namespace pelgar::records {

// The rows after `row` whose score with it (its fields first) reaches the threshold, by
// increasing row.
std::vector<std::pair<std::uint32_t, double>> record_partners(const RecordIndex& index, std::uint32_t row,
                                                              double threshold, FieldTally* tally);

// Every pair i < j from each row's partners, by (i, j).
std::vector<join::Pair> record_pairs(const std::vector<std::vector<std::pair<std::uint32_t, double>>>& partners);

// Clusters of rows made as each row's partners are found, from several rows at once; pairs
// already in one cluster are not scored, and none is kept.
class RecordClusters {
public:
    explicit RecordClusters(const RecordIndex& index) : index_(index), sets_(index.size()) {}

    void probe(std::uint32_t row, double threshold, FieldTally* tally);
    // Per row, the smallest row of its cluster.
    std::vector<std::size_t> labels() const;

private:
    const RecordIndex& index_;
    join::UnionFind sets_;
};

}  // namespace pelgar::records
