#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace pelgar::measures {

// The trigrams of a string in order, duplicates kept, each packed into one key
// (three 21-bit code points); empty for fewer than three characters.
std::vector<std::uint64_t> trigrams(std::u32string_view text);

// Dice coefficient over the multisets of character trigrams, no boundary markers.
double trigram_score(std::u32string_view a, std::u32string_view b);

}  // namespace pelgar::measures
