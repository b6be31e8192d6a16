#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "matching/text_list.hpp"

namespace pelgar::join {

// Which pair score a search uses; each compares prepared keys with weighted_score.
enum class Scorer : std::uint8_t { combined = 0, token_sort = 1, token_set = 2 };

std::optional<Scorer> scorer_from_name(std::string_view name);

// The string a scorer compares: the normalised text, or its sorted token key.
std::string prepare_key(std::string_view text, Scorer scorer);

// Prepared keys in input order (UTF-8, back to back), with their character counts;
// a missing text holds no key and is never compared.
class PreparedTexts {
public:
    static constexpr std::uint32_t kMissing = ~std::uint32_t{0};

    void reserve(std::size_t texts);
    void add_key(std::string_view key);
    void add_missing();

    std::size_t size() const noexcept { return keys_.size(); }
    bool missing(std::size_t i) const noexcept { return lengths_[i] == kMissing; }
    std::string_view key(std::size_t i) const noexcept { return keys_[i]; }
    // Characters of the key; kMissing for a missing text.
    std::uint32_t length(std::size_t i) const noexcept { return lengths_[i]; }
    std::size_t memory_bytes() const noexcept;

private:
    matching::TextList keys_;
    std::vector<std::uint32_t> lengths_;
};

}  // namespace pelgar::join
