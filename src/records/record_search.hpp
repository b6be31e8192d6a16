#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "matching/match.hpp"
#include "records/record_index.hpp"

namespace pelgar::records {

// A record to search for: per field its prepared key (empty where missing), and which
// fields are present.
struct RecordQuery {
    std::vector<std::u32string> keys;
    FieldMask mask = 0;
};

// Row `row` of the index as a query.
RecordQuery query_of_row(const RecordIndex& index, std::size_t row);

// What one search wants and where its rows go. The cutoff may rise as rows come in, never
// fall; a row whose score is below it is not taken.
class RowSink {
public:
    virtual ~RowSink() = default;
    virtual double cutoff() const = 0;
    // Rows below this are not wanted.
    virtual std::uint32_t first_row() const { return 0; }
    // Asked before a row at or past first_row() is scored.
    virtual bool wants(std::uint32_t) { return true; }
    virtual void take(std::uint32_t row, double score) = 0;
};

// How much the searches of a run scored, field by field: distinct keys scored against a
// query, and the rows whose record score was worked out. Shared by the run's threads.
class FieldTally {
public:
    explicit FieldTally(std::size_t fields) : scored_(std::make_unique<std::atomic<std::size_t>[]>(fields)), fields_(fields) {}
    void add(std::size_t field, std::size_t count) { scored_[field].fetch_add(count, std::memory_order_relaxed); }
    void add_rows(std::size_t count) { rows_.fetch_add(count, std::memory_order_relaxed); }
    std::vector<std::size_t> scored() const;
    std::size_t rows() const { return rows_.load(std::memory_order_relaxed); }

private:
    std::unique_ptr<std::atomic<std::size_t>[]> scored_;
    std::size_t fields_;
    std::atomic<std::size_t> rows_{0};
};

// Gives the sink every row from first_row() on that it wants and whose score reaches its
// cutoff (and maybe others). Rows are found by searches of one or two heavy fields at a
// cutoff derived from the record cutoff, and each row's fields are scored heaviest first
// while the weighted bound can still reach the cutoff; no row that could is passed over.
void search_record(const RecordIndex& index, const RecordQuery& query, RowSink& sink, FieldTally* tally);

// Up to k rows with score >= threshold, by descending score, equal scores by lower row.
std::vector<matching::Match> record_top_k(const RecordIndex& index, const RecordQuery& query, std::size_t k,
                                          double threshold, FieldTally* tally);

}  // namespace pelgar::records
