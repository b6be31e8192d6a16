#include "records/record_index.hpp"

#include <algorithm>
#include <map>
#include <numeric>

#include "common/internal_failure.hpp"

namespace pelgar::records {

RecordIndex::RecordIndex(std::vector<FieldRule> fields, const std::vector<join::PreparedTexts>& columns)
    : rules_(std::move(fields)) {
    if (rules_.empty() || rules_.size() > kMaxFields || columns.size() != rules_.size())
        throw InternalFailure("a record index needs 1 to 64 fields, one column each");
    rows_ = columns[0].size();
    const std::size_t count = rules_.size();
    keys_.assign(rows_ * count, join::KeyGroups::kNoKey);
    masks_.assign(rows_, 0);
    for (std::size_t f = 0; f < count; ++f) {
        if (columns[f].size() != rows_) throw InternalFailure("record columns of different lengths");
        fields_.push_back(std::make_unique<join::CandidateIndex>(rules_[f].scorer, columns[f]));
        const std::vector<std::uint32_t> key_of = fields_[f]->keys().keys_of_rows();
        for (std::size_t row = 0; row < rows_; ++row) {
            keys_[row * count + f] = key_of[row];
            if (key_of[row] != join::KeyGroups::kNoKey) masks_[row] |= FieldMask{1} << f;
        }
    }
    group_patterns(columns);
    heaviest_first_.resize(count);
    std::iota(heaviest_first_.begin(), heaviest_first_.end(), std::size_t{0});
    std::stable_sort(heaviest_first_.begin(), heaviest_first_.end(),
                     [&](std::size_t a, std::size_t b) { return rules_[a].weight > rules_[b].weight; });
}

void RecordIndex::group_patterns(const std::vector<join::PreparedTexts>& columns) {
    // A pattern of under a twentieth of the rows is rare.
    constexpr std::size_t kRareShare = 20;
    std::map<FieldMask, std::vector<std::uint32_t>> by_mask;
    for (std::size_t row = 0; row < rows_; ++row)
        if (masks_[row] != 0) by_mask[masks_[row]].push_back(static_cast<std::uint32_t>(row));
    for (auto& [mask, rows] : by_mask) {
        if (rows.size() * kRareShare >= rows_) {
            common_.push_back(mask);
            continue;
        }
        Partition part{mask, std::move(rows), {}};
        part.fields.resize(rules_.size());
        for (std::size_t f = 0; f < rules_.size(); ++f) {
            if (!((mask >> f) & 1)) continue;
            join::PreparedTexts texts;
            texts.reserve(part.rows.size());
            for (const std::uint32_t row : part.rows) texts.add_key(columns[f].key(row));
            part.fields[f] = std::make_unique<join::CandidateIndex>(rules_[f].scorer, texts);
        }
        rare_.push_back(std::move(part));
    }
}

// A field of a few distinct values (a city, a sex) would bring most rows to every query.
bool RecordIndex::selective(std::size_t field) const noexcept {
    constexpr std::size_t kRowsPerKey = 50;
    return fields_[field]->keys().count() * kRowsPerKey >= rows_;
}

FieldMask RecordIndex::drivers_of(FieldMask shared, std::size_t most) const noexcept {
    FieldMask drivers = 0;
    std::size_t count = 0;
    for (const std::size_t f : heaviest_first_)
        if ((shared >> f) & 1 && selective(f) && count < most) {
            drivers |= FieldMask{1} << f;
            ++count;
        }
    for (const std::size_t f : heaviest_first_)
        if (drivers == 0 && (shared >> f) & 1) drivers |= FieldMask{1} << f;
    return drivers;
}

double RecordIndex::weight_of(FieldMask mask) const noexcept {
    double sum = 0.0;
    for (std::size_t f = 0; f < rules_.size(); ++f)
        if (has_field(mask, f)) sum += rules_[f].weight;
    return sum;
}

std::size_t RecordIndex::memory_bytes() const noexcept {
    std::size_t bytes = sizeof(*this) + keys_.capacity() * sizeof(std::uint32_t) + masks_.capacity() * sizeof(FieldMask);
    for (const auto& field : fields_) bytes += field->memory_bytes();
    bytes += common_.capacity() * sizeof(FieldMask);
    for (const Partition& part : rare_) {
        bytes += sizeof(part) + part.rows.capacity() * sizeof(std::uint32_t);
        for (const auto& field : part.fields)
            if (field) bytes += field->memory_bytes();
    }
    return bytes;
}

}  // namespace pelgar::records
