#include "records/record_join.hpp"

#include <algorithm>

namespace pelgar::records {

namespace {

// The rows after one row that reach a fixed threshold.
class PartnerSink final : public RowSink {
public:
    PartnerSink(std::uint32_t row, double threshold) : row_(row), threshold_(threshold) {}
    double cutoff() const override { return threshold_; }
    std::uint32_t first_row() const override { return row_ + 1; }
    void take(std::uint32_t partner, double score) override {
        if (score >= threshold_) found.emplace_back(partner, score);
    }
    std::vector<std::pair<std::uint32_t, double>> found;

private:
    std::uint32_t row_;
    double threshold_;
};

// The rows after one row not yet in its cluster; each that reaches the threshold joins it.
class ClusterSink final : public RowSink {
public:
    ClusterSink(join::UnionFind& sets, std::uint32_t row, double threshold)
        : sets_(sets), row_(row), threshold_(threshold) {}
    double cutoff() const override { return threshold_; }
    std::uint32_t first_row() const override { return row_ + 1; }
    bool wants(std::uint32_t partner) override { return sets_.root(partner) != sets_.root(row_); }
    void take(std::uint32_t partner, double score) override {
        if (score >= threshold_) sets_.unite(row_, partner);
    }

private:
    join::UnionFind& sets_;
    std::uint32_t row_;
    double threshold_;
};

}  // namespace

std::vector<std::pair<std::uint32_t, double>> record_partners(const RecordIndex& index, std::uint32_t row,
                                                              double threshold, FieldTally* tally) {
    PartnerSink sink(row, threshold);
    search_record(index, query_of_row(index, row), sink, tally);
    std::sort(sink.found.begin(), sink.found.end());
    return std::move(sink.found);
}

std::vector<join::Pair> record_pairs(const std::vector<std::vector<std::pair<std::uint32_t, double>>>& partners) {
    std::size_t total = 0;
    for (const auto& found : partners) total += found.size();
    std::vector<join::Pair> pairs;
    pairs.reserve(total);
    for (std::size_t i = 0; i < partners.size(); ++i)
        for (const auto& [j, score] : partners[i]) pairs.push_back({static_cast<std::uint32_t>(i), j, score});
    return pairs;
}

void RecordClusters::probe(std::uint32_t row, double threshold, FieldTally* tally) {
    ClusterSink sink(sets_, row, threshold);
    search_record(index_, query_of_row(index_, row), sink, tally);
}

std::vector<std::size_t> RecordClusters::labels() const {
    std::vector<std::size_t> labels(index_.size());
    for (std::uint32_t row = 0; row < labels.size(); ++row) labels[row] = sets_.root(row);
    return labels;
}

}  // namespace pelgar::records
