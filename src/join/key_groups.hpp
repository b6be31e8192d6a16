#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "join/prepared_texts.hpp"
#include "matching/text_list.hpp"

namespace pelgar::join {

// The distinct keys of prepared texts, each with the rows that hold it: one score of a key
// serves all its rows. Keys are numbered by increasing length, equal lengths by their
// first row, so that the keys of a range of lengths are a range of numbers; their text is
// kept in that order, once per key.
class KeyGroups {
public:
    static constexpr std::uint32_t kNoKey = ~std::uint32_t{0};

    explicit KeyGroups(const PreparedTexts& texts);

    std::size_t count() const noexcept { return key_ends_.size(); }
    // Rows, missing ones included.
    std::size_t row_count() const noexcept { return row_count_; }
    std::string_view key(std::size_t id) const noexcept {
        const std::uint32_t begin = id == 0 ? 0 : key_ends_[id - 1];
        return std::string_view(key_chars_).substr(begin, key_ends_[id] - begin);
    }
    // Asks the processor to fetch where a key's text ends, then (once that has come) the
    // text itself, ahead of use: candidates met in posting lists lie all over the index.
    void prefetch_bounds(std::size_t id) const noexcept { __builtin_prefetch(key_ends_.data() + id); }
    void prefetch_text(std::size_t id) const noexcept {
        __builtin_prefetch(key_chars_.data() + (id == 0 ? 0 : key_ends_[id - 1]));
    }
    std::uint32_t length(std::size_t id) const noexcept;
    // Rows holding the key, increasing.
    std::span<const std::uint32_t> rows(std::size_t id) const noexcept {
        return std::span<const std::uint32_t>(rows_).subspan(row_begins_[id], row_begins_[id + 1] - row_begins_[id]);
    }
    std::uint32_t first_row(std::size_t id) const noexcept { return rows_[row_begins_[id]]; }
    std::uint32_t last_row(std::size_t id) const noexcept { return rows_[row_begins_[id + 1] - 1]; }
    void prefetch_rows(std::size_t id) const noexcept { __builtin_prefetch(row_begins_.data() + id); }
    // Per row, its key; kNoKey for a missing one. Made on request: the index does not keep it.
    std::vector<std::uint32_t> keys_of_rows() const;

    // Distinct lengths, increasing, and the first key of each (one more entry: count()).
    std::size_t length_count() const noexcept { return lengths_.size(); }
    std::uint32_t length_at(std::size_t group) const noexcept { return lengths_[group]; }
    std::uint32_t first_key_of_length(std::size_t group) const noexcept { return length_begins_[group]; }
    // The first length group whose length is at least `length` (length_count() if none).
    std::size_t length_group_at_least(std::size_t length) const noexcept;

    std::size_t memory_bytes() const noexcept;

private:
    // an index read from an image starts from empty groups
    friend struct IndexImage;
    friend class CandidateIndex;
    KeyGroups() = default;

    std::string key_chars_;
    std::vector<std::uint32_t> key_ends_;    // by key
    std::vector<std::uint32_t> row_begins_;  // count() + 1 entries into rows_
    std::vector<std::uint32_t> rows_;
    std::size_t row_count_ = 0;
    std::vector<std::uint32_t> lengths_;
    std::vector<std::uint32_t> length_begins_;
};

}  // namespace pelgar::join
