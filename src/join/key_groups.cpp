#include "join/key_groups.hpp"

#include <algorithm>
#include <bit>
#include <functional>

#include "common/internal_failure.hpp"

namespace pelgar::join {

namespace {

// Per row, the first row with an equal key (kNoKey for a missing row), through an
// open-addressing table of first rows keyed by the key's hash.
std::vector<std::uint32_t> first_equal_rows(const PreparedTexts& texts) {
    const std::size_t rows = texts.size();
    const std::size_t slots = std::bit_ceil(std::max<std::size_t>(2 * rows, 16));
    std::vector<std::uint32_t> table(slots, KeyGroups::kNoKey);
    std::vector<std::uint32_t> first(rows, KeyGroups::kNoKey);
    const std::hash<std::string_view> hash;
    for (std::size_t row = 0; row < rows; ++row) {
        if (texts.missing(row)) continue;
        const std::string_view key = texts.key(row);
        for (std::size_t slot = hash(key) & (slots - 1);; slot = (slot + 1) & (slots - 1)) {
            if (table[slot] == KeyGroups::kNoKey) {
                table[slot] = static_cast<std::uint32_t>(row);
                first[row] = static_cast<std::uint32_t>(row);
                break;
            }
            if (texts.key(table[slot]) == key) {
                first[row] = table[slot];
                break;
            }
        }
    }
    return first;
}

}  // namespace

KeyGroups::KeyGroups(const PreparedTexts& texts) {
    if (texts.size() >= kNoKey) throw InternalFailure("2^32 rows or more cannot be indexed");
    const std::vector<std::uint32_t> first = first_equal_rows(texts);
    std::vector<std::uint32_t> first_rows;
    for (std::size_t row = 0; row < first.size(); ++row)
        if (first[row] == row) first_rows.push_back(static_cast<std::uint32_t>(row));
    std::stable_sort(first_rows.begin(), first_rows.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return texts.length(a) < texts.length(b); });

    row_count_ = texts.size();
    std::vector<std::uint32_t> key_of(texts.size(), kNoKey);
    for (std::size_t id = 0; id < first_rows.size(); ++id) {
        key_of[first_rows[id]] = static_cast<std::uint32_t>(id);
        key_chars_.append(texts.key(first_rows[id]));
        if (key_chars_.size() >= kNoKey) throw InternalFailure("keys of 2^32 bytes or more cannot be indexed");
        key_ends_.push_back(static_cast<std::uint32_t>(key_chars_.size()));
    }
    key_chars_.shrink_to_fit();
    row_begins_.assign(first_rows.size() + 1, 0);
    for (std::size_t row = 0; row < first.size(); ++row) {
        if (first[row] == kNoKey) continue;
        key_of[row] = key_of[first[row]];
        ++row_begins_[key_of[row] + 1];
    }
    for (std::size_t id = 0; id < first_rows.size(); ++id) row_begins_[id + 1] += row_begins_[id];
    rows_.resize(row_begins_.back());
    std::vector<std::uint32_t> fill(row_begins_.begin(), row_begins_.end() - 1);
    for (std::size_t row = 0; row < first.size(); ++row)
        if (key_of[row] != kNoKey) rows_[fill[key_of[row]]++] = static_cast<std::uint32_t>(row);

    for (std::size_t id = 0; id < first_rows.size(); ++id) {
        const std::uint32_t length = texts.length(first_rows[id]);
        if (lengths_.empty() || lengths_.back() != length) {
            lengths_.push_back(length);
            length_begins_.push_back(static_cast<std::uint32_t>(id));
        }
    }
    length_begins_.push_back(static_cast<std::uint32_t>(first_rows.size()));
}

std::uint32_t KeyGroups::length(std::size_t id) const noexcept {
    const auto after = std::upper_bound(length_begins_.begin(), length_begins_.end(), id,
                                        [](std::size_t i, std::uint32_t begin) { return i < begin; });
    return lengths_[static_cast<std::size_t>(after - length_begins_.begin()) - 1];
}

std::vector<std::uint32_t> KeyGroups::keys_of_rows() const {
    std::vector<std::uint32_t> key_of(row_count_, kNoKey);
    for (std::uint32_t id = 0; id < count(); ++id)
        for (const std::uint32_t row : rows(id)) key_of[row] = id;
    return key_of;
}

std::size_t KeyGroups::length_group_at_least(std::size_t length) const noexcept {
    return static_cast<std::size_t>(
        std::lower_bound(lengths_.begin(), lengths_.end(), length,
                         [](std::uint32_t g, std::size_t l) { return g < l; }) -
        lengths_.begin());
}

std::size_t KeyGroups::memory_bytes() const noexcept {
    return key_chars_.capacity() + (key_ends_.capacity() + row_begins_.capacity() + rows_.capacity() +
                                     lengths_.capacity() + length_begins_.capacity()) *
                                        sizeof(std::uint32_t);
}

}  // namespace pelgar::join
