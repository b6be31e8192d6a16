#pragma once

#include <Python.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "join/self_join.hpp"
#include "join_python/arrow_export.hpp"
#include "matching/match.hpp"

// Results as three columns built natively, for Arrow consumers: no Python object per row.
namespace pelgar::join_python {

// An Arrow validity bitmap grown a row at a time.
class ValidityBits {
public:
    void reserve(std::size_t rows) { bits_.reserve((rows + 7) / 8); }
    void push(std::size_t row, bool present);
    // Null when no row is null, as Arrow allows.
    const std::uint8_t* data() const noexcept { return null_count_ > 0 ? bits_.data() : nullptr; }
    std::int64_t null_count() const noexcept { return null_count_; }

private:
    std::vector<std::uint8_t> bits_;
    std::int64_t null_count_ = 0;
};

// Columns that a pelgar_join.Columns object exports.
class ColumnSource {
public:
    virtual ~ColumnSource() = default;
    virtual std::size_t rows() const noexcept = 0;
    // The column names, as repr shows them: "a, b, score".
    virtual std::string names() const = 0;
    // The columns for export; `self` owns this object and is kept alive by what is exported.
    virtual arrow::ExportTable export_table(const std::shared_ptr<const ColumnSource>& self) const = 0;
};

// Rows of (first int64, second int64, score float64) under the given column names. A
// nullable table may hold rows whose second and score are null.
class ResultColumns final : public ColumnSource {
public:
    ResultColumns(const char* first_name, const char* second_name, bool nullable)
        : names_{first_name, second_name}, nullable_(nullable) {}

    void reserve(std::size_t rows);
    void add(std::int64_t first, std::int64_t second, double score);
    // A row with only its first value; the table must be nullable.
    void add_first_only(std::int64_t first);

    std::size_t rows() const noexcept override { return first_.size(); }
    std::string names() const override { return std::string(names_[0]) + ", " + names_[1] + ", score"; }
    arrow::ExportTable export_table(const std::shared_ptr<const ColumnSource>& self) const override;

private:
    const char* names_[2];
    bool nullable_;
    std::vector<std::int64_t> first_, second_;
    std::vector<double> score_;
    ValidityBits present_;  // of second and score, when nullable
};

// One float64 column "score", null where a row has no score.
class ScoreColumn final : public ColumnSource {
public:
    void reserve(std::size_t rows);
    void add(double score);
    void add_null();

    std::size_t rows() const noexcept override { return scores_.size(); }
    std::string names() const override { return "score"; }
    arrow::ExportTable export_table(const std::shared_ptr<const ColumnSource>& self) const override;

private:
    std::vector<double> scores_;
    ValidityBits present_;
};

// top_k's answers as (query, position, score) by query, then rank; keep_unmatched adds a
// row with null position and score for each query that found nothing (a left join's rows).
ResultColumns columns_of_matches(const std::vector<std::vector<matching::Match>>& answers, bool keep_unmatched);

// self_join's pairs as (left, right, score), in their order.
ResultColumns columns_of_pairs(const std::vector<join::Pair>& pairs);

// A new pelgar_join.Columns object: len() and __arrow_c_stream__ over the columns. Its
// type is made on first use and kept for the life of the process.
PyObject* columns_object(std::shared_ptr<const ColumnSource> columns);
PyObject* columns_object(ResultColumns columns);

}  // namespace pelgar::join_python
