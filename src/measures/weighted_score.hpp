#pragma once

#include <string_view>

namespace pelgar::measures {

// t*0.25 + (j*0.4 + levenshtein part) of two normalised strings, first string first.
double weighted_score(std::u32string_view a, std::u32string_view b);

// The same for UTF-8 text: each string is decoded once and shared by the three measures.
double weighted_score(std::string_view a, std::string_view b);

}  // namespace pelgar::measures
