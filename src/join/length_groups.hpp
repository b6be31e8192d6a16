#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "join/prepared_texts.hpp"

namespace pelgar::join {

// The positions of the present texts grouped by character count: groups by increasing
// length, positions increasing within a group.
class LengthGroups {
public:
    explicit LengthGroups(const PreparedTexts& texts);

    std::size_t count() const noexcept { return lengths_.size(); }
    std::uint32_t length(std::size_t group) const noexcept { return lengths_[group]; }
    std::span<const std::uint32_t> members(std::size_t group) const noexcept {
        return std::span<const std::uint32_t>(positions_).subspan(begins_[group], begins_[group + 1] - begins_[group]);
    }
    // The first group whose length is at least `length` (count() if none).
    std::size_t first_at_least(std::size_t length) const noexcept;
    // The group of a present length.
    std::size_t group_of(std::size_t length) const noexcept { return first_at_least(length); }
    std::size_t memory_bytes() const noexcept;

private:
    std::vector<std::uint32_t> positions_;
    std::vector<std::uint32_t> lengths_;
    std::vector<std::size_t> begins_;  // count() + 1 entries
};

}  // namespace pelgar::join
