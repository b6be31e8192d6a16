#pragma once

#include <string_view>

namespace pelgar::measures {

// Jaro-Winkler similarity with greedy first-fit matching driven by the first string.
double jaro_winkler_score(std::u32string_view a, std::u32string_view b);

}  // namespace pelgar::measures
