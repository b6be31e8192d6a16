#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "join/candidate_index.hpp"
#include "join/prepared_texts.hpp"

namespace pelgar::records {

// Which fields of a record are present: bit f for field f.
using FieldMask = std::uint64_t;
constexpr std::size_t kMaxFields = 64;
// Searches and joins by more fields split the loss budget finer, but each costs a pass.
constexpr std::size_t kDriverFields = 3;

inline bool has_field(FieldMask mask, std::size_t field) { return (mask >> field) & 1; }

struct FieldRule {
    double weight;
    join::Scorer scorer;
};

// The rows of a rare presence pattern, with a candidate index of each of their fields over
// them alone: searched on their own, they do not loosen the cutoff of the common rows'.
struct Partition {
    FieldMask mask;
    std::vector<std::uint32_t> rows;                            // increasing
    std::vector<std::unique_ptr<join::CandidateIndex>> fields;  // by field; null where absent
};

// Records of several fields prepared once for many searches: each field a candidate index
// of its own (key groups and trigram postings), and per row its key in each field.
// Immutable once built; searches share it freely.
class RecordIndex {
public:
    RecordIndex(std::vector<FieldRule> fields, const std::vector<join::PreparedTexts>& columns);

    std::size_t field_count() const noexcept { return rules_.size(); }
    const FieldRule& rule(std::size_t field) const noexcept { return rules_[field]; }
    const join::CandidateIndex& field(std::size_t field) const noexcept { return *fields_[field]; }
    std::size_t size() const noexcept { return rows_; }
    // The row's key in the field, KeyGroups::kNoKey where the field is missing.
    std::uint32_t key(std::size_t field, std::size_t row) const noexcept { return keys_[row * rules_.size() + field]; }
    FieldMask mask(std::size_t row) const noexcept { return masks_[row]; }
    // Asks the processor for a row's keys and mask ahead of use: the rows of a key lie all
    // over the index.
    void prefetch_row(std::size_t row) const noexcept {
        __builtin_prefetch(keys_.data() + row * rules_.size());
        __builtin_prefetch(masks_.data() + row);
    }
    // The presence patterns of many rows (which fields are present), each once; none empty.
    const std::vector<FieldMask>& common_patterns() const noexcept { return common_; }
    // The rows of each other pattern.
    const std::vector<Partition>& rare_patterns() const noexcept { return rare_; }
    // Fields by decreasing weight, equal weights in field order.
    const std::vector<std::size_t>& heaviest_first() const noexcept { return heaviest_first_; }
    // Whether a field has keys varied enough for a search by it to narrow the candidates.
    bool selective(std::size_t field) const noexcept;
    // The fields of `shared` a search or join is driven by: its `most` heaviest selective
    // fields, or its heaviest field when none is selective.
    FieldMask drivers_of(FieldMask shared, std::size_t most) const noexcept;
    // The weights of the fields in `mask`, added in field order.
    double weight_of(FieldMask mask) const noexcept;
    std::size_t memory_bytes() const noexcept;

private:
    void group_patterns(const std::vector<join::PreparedTexts>& columns);

    std::vector<FieldRule> rules_;
    std::vector<std::unique_ptr<join::CandidateIndex>> fields_;
    std::size_t rows_ = 0;
    std::vector<std::uint32_t> keys_;  // by row, then field
    std::vector<FieldMask> masks_;
    std::vector<FieldMask> common_;
    std::vector<Partition> rare_;
    std::vector<std::size_t> heaviest_first_;
};

}  // namespace pelgar::records
