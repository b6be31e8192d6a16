#include "records/record_index.hpp"

#include <algorithm>
#include <numeric>

#include "common/internal_failure.hpp"

namespace pelgar::records {

RecordIndex::RecordIndex(std::vector<FieldSpec> fields, const std::vector<join::PreparedTexts>& columns)
    : specs_(std::move(fields)) {
    if (specs_.empty() || specs_.size() > kMaxFields || columns.size() != specs_.size())
        throw InternalFailure("a record index needs 1 to 64 fields, one column each");
    rows_ = columns[0].size();
    const std::size_t count = specs_.size();
    keys_.assign(rows_ * count, join::KeyGroups::kNoKey);
    masks_.assign(rows_, 0);
    for (std::size_t f = 0; f < count; ++f) {
        if (columns[f].size() != rows_) throw InternalFailure("record columns of different lengths");
        fields_.push_back(std::make_unique<join::CandidateIndex>(specs_[f].scorer, columns[f]));
        const std::vector<std::uint32_t> key_of = fields_[f]->keys().keys_of_rows();
        for (std::size_t row = 0; row < rows_; ++row) {
            keys_[row * count + f] = key_of[row];
            if (key_of[row] != join::KeyGroups::kNoKey) masks_[row] |= FieldMask{1} << f;
        }
    }
    patterns_ = masks_;
    std::sort(patterns_.begin(), patterns_.end());
    patterns_.erase(std::unique(patterns_.begin(), patterns_.end()), patterns_.end());
    if (!patterns_.empty() && patterns_.front() == 0) patterns_.erase(patterns_.begin());
    heaviest_first_.resize(count);
    std::iota(heaviest_first_.begin(), heaviest_first_.end(), std::size_t{0});
    std::stable_sort(heaviest_first_.begin(), heaviest_first_.end(),
                     [&](std::size_t a, std::size_t b) { return specs_[a].weight > specs_[b].weight; });
}

// A field of a few distinct values (a city, a sex) would bring most rows to every query.
bool RecordIndex::selective(std::size_t field) const noexcept {
    constexpr std::size_t kRowsPerKey = 50;
    return fields_[field]->keys().count() * kRowsPerKey >= rows_;
}

std::size_t RecordIndex::memory_bytes() const noexcept {
    std::size_t bytes = sizeof(*this) + keys_.capacity() * sizeof(std::uint32_t) + masks_.capacity() * sizeof(FieldMask);
    for (const auto& field : fields_) bytes += field->memory_bytes();
    bytes += patterns_.capacity() * sizeof(FieldMask);
    return bytes;
}

}  // namespace pelgar::records
