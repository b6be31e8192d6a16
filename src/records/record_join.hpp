#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <vector>

#include "join/output_budget.hpp"
#include "join/self_join.hpp"
#include "join/union_find.hpp"
#include "records/driver_cutoffs.hpp"
#include "records/record_index.hpp"
#include "records/record_search.hpp"

namespace pelgar::records {

// Where a record self-join sends its pairs, from several threads at once.
class RecordPairSink {
public:
    virtual ~RecordPairSink() = default;
    // True when rows i < j need not be scored (they are joined already).
    virtual bool skip(std::uint32_t, std::uint32_t) { return false; }
    // Whether pairs of rows already joined are skipped; if so, joined(rows) is true when
    // all the rows (increasing) are joined, and once true, true for good.
    virtual bool skips_joined() const { return false; }
    virtual bool joined(std::span<const std::uint32_t>) { return false; }
    // The record score of rows i < j, row i's fields first, reached the threshold.
    virtual void found(std::uint32_t i, std::uint32_t j, double score) = 0;
    // Every row of `a` scores 1.0 with every row of `b` (each pair once; when a and b are
    // the same rows, each pair of them), both increasing.
    virtual void alike(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b);
};

// The pairs of rows i < j whose record score reaches the threshold. Each driver field is
// self-joined on its distinct keys at its cutoff (DriverCutoffs), each pair of keys or rows
// of one key found once, from one side; the pairs of rows they make are scored on their
// other fields heaviest first, each unscored field bounded from its keys' lengths and
// trigram signatures, while the weighted bound can still reach the threshold. A pair
// belongs to the first driver of its shared fields, heaviest first, whose score reaches
// that driver's cutoff: the joins of the others pass it over. The rows of a big key of a
// driver are joined by a nested record join over them alone, that field fixed, so that a
// placeholder shared by many rows costs what its pairs on the other fields cost, not the
// square of its rows. Immutable once built; probes run concurrently.
class RecordSelfJoin {
public:
    // `fixed`: fields that hold one key in every row (a nested join's).
    RecordSelfJoin(const RecordIndex& index, double threshold, FieldMask fixed = 0);

    // The joins to build before any probe, each by build(i), concurrently if need be.
    std::size_t joins() const noexcept { return joins_.size(); }
    void build(std::size_t join);

    // One probe per driver and row; the probe of a row that is not the first of its key
    // in that driver does nothing, so that progress counts rows.
    std::size_t probes() const noexcept { return drivers_.size() * index_.size(); }
    void probe(std::size_t probe, RecordPairSink& sink, FieldTally* tally) const;

private:
    friend class DriverPairs;
    friend class NestedPairs;

    // Every pair of the rows of one key of a driver, through a nested join.
    void join_alike(std::size_t driver, std::span<const std::uint32_t> rows, RecordPairSink& sink) const;
    // The pairs of rows that share fixed fields alone: all score 1.0.
    void alike_pairs(RecordPairSink& sink) const;
    // Whether a driver before `driver` brings rows i and j of this index (its cutoff reached).
    bool claimed_before(std::size_t driver, std::uint32_t i, std::uint32_t j) const;
    // Whether `field`, scoring `score`, is a driver before `driver` whose join brings the pair.
    bool brings_before(std::size_t field, std::size_t driver, double score) const {
        return rank_[field] < rank_[driver] && cutoffs_.drives(field) && score >= cutoffs_.cutoff(field);
    }

    const RecordIndex& index_;
    double threshold_;
    FieldMask fixed_;
    DriverCutoffs cutoffs_;
    std::vector<std::size_t> rank_;     // by field: its place in index_.heaviest_first()
    std::vector<std::vector<std::uint32_t>> lengths_;  // by field, then key: characters
    std::vector<std::size_t> drivers_;  // the field of each join
    std::vector<std::unique_ptr<join::SelfJoin>> joins_;
};

// Every pair found, counted against what memory can hold.
class RecordPairs final : public RecordPairSink {
public:
    explicit RecordPairs(join::OutputBudget& budget) : budget_(budget) {}
    void found(std::uint32_t i, std::uint32_t j, double score) override;
    // By (i, j).
    std::vector<join::Pair> sorted() &&;

private:
    join::OutputBudget& budget_;
    std::mutex lock_;
    std::vector<join::Pair> pairs_;
};

// Clusters of rows made as pairs are found; pairs already in one cluster are not scored,
// and none is kept.
class RecordClusters final : public RecordPairSink {
public:
    explicit RecordClusters(std::size_t rows) : rows_(rows), sets_(rows) {}
    bool skip(std::uint32_t i, std::uint32_t j) override { return sets_.root(i) == sets_.root(j); }
    void found(std::uint32_t i, std::uint32_t j, double) override { sets_.unite(i, j); }
    void alike(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b) override;
    bool skips_joined() const override { return true; }
    bool joined(std::span<const std::uint32_t> rows) override;
    // Per row, the smallest row of its cluster.
    std::vector<std::size_t> labels() const;

private:
    std::size_t rows_;
    join::UnionFind sets_;
};

}  // namespace pelgar::records
