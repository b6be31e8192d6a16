#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "join/prepared_texts.hpp"

namespace pelgar::join {

// The distinct keys of prepared texts, each with the rows that hold it: one score of a key
// serves all its rows. Keys are numbered by increasing length, equal lengths by their
// first row, so that the keys of a range of lengths are a range of numbers.
class KeyGroups {
public:
    static constexpr std::uint32_t kNoKey = ~std::uint32_t{0};

    explicit KeyGroups(const PreparedTexts& texts);

    std::size_t count() const noexcept { return first_rows_.size(); }
    // Rows, missing ones included.
    std::size_t row_count() const noexcept { return key_of_.size(); }
    std::string_view key(std::size_t id) const noexcept { return texts_->key(first_rows_[id]); }
    std::uint32_t length(std::size_t id) const noexcept { return texts_->length(first_rows_[id]); }
    // Rows holding the key, increasing.
    std::span<const std::uint32_t> rows(std::size_t id) const noexcept {
        return std::span<const std::uint32_t>(rows_).subspan(row_begins_[id], row_begins_[id + 1] - row_begins_[id]);
    }
    std::uint32_t first_row(std::size_t id) const noexcept { return first_rows_[id]; }
    std::uint32_t last_row(std::size_t id) const noexcept { return rows_[row_begins_[id + 1] - 1]; }
    // The key of a present row; kNoKey for a missing one.
    std::uint32_t key_of(std::size_t row) const noexcept { return key_of_[row]; }

    // Distinct lengths, increasing, and the first key of each (one more entry: count()).
    std::size_t length_count() const noexcept { return lengths_.size(); }
    std::uint32_t length_at(std::size_t group) const noexcept { return lengths_[group]; }
    std::uint32_t first_key_of_length(std::size_t group) const noexcept { return length_begins_[group]; }
    // The first length group whose length is at least `length` (length_count() if none).
    std::size_t length_group_at_least(std::size_t length) const noexcept;

    std::size_t memory_bytes() const noexcept;

private:
    const PreparedTexts* texts_;
    std::vector<std::uint32_t> first_rows_;  // by key
    std::vector<std::uint32_t> row_begins_;  // count() + 1 entries into rows_
    std::vector<std::uint32_t> rows_;
    std::vector<std::uint32_t> key_of_;      // by row
    std::vector<std::uint32_t> lengths_;
    std::vector<std::uint32_t> length_begins_;
};

}  // namespace pelgar::join
