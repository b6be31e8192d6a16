#include "join/length_groups.hpp"

#include <algorithm>

namespace pelgar::join {

LengthGroups::LengthGroups(const PreparedTexts& texts) {
    for (std::size_t i = 0; i < texts.size(); ++i)
        if (!texts.missing(i)) positions_.push_back(static_cast<std::uint32_t>(i));
    std::stable_sort(positions_.begin(), positions_.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return texts.length(a) < texts.length(b); });
    for (std::size_t i = 0; i < positions_.size(); ++i) {
        const std::uint32_t length = texts.length(positions_[i]);
        if (lengths_.empty() || lengths_.back() != length) {
            lengths_.push_back(length);
            begins_.push_back(i);
        }
    }
    begins_.push_back(positions_.size());
    positions_.shrink_to_fit();
    lengths_.shrink_to_fit();
    begins_.shrink_to_fit();
}

std::size_t LengthGroups::first_at_least(std::size_t length) const noexcept {
    return static_cast<std::size_t>(
        std::lower_bound(lengths_.begin(), lengths_.end(), length,
                         [](std::uint32_t g, std::size_t l) { return g < l; }) -
        lengths_.begin());
}

std::size_t LengthGroups::memory_bytes() const noexcept {
    return positions_.capacity() * sizeof(std::uint32_t) + lengths_.capacity() * sizeof(std::uint32_t) +
           begins_.capacity() * sizeof(std::size_t);
}

}  // namespace pelgar::join
