#pragma once

#include <cstdint>
#include <string_view>

namespace pelgar::measures {

// Unit-cost insertions, deletions and substitutions between two normalised strings.
std::uint64_t edit_distance(std::u32string_view a, std::u32string_view b);

}  // namespace pelgar::measures
