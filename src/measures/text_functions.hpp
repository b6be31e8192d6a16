#pragma once

#include <cstdint>
#include <string_view>

// The two-string functions as callers see them: normalise the first text, then the
// second, then measure them, first text first.
namespace pelgar::measures {

std::uint64_t levenshtein(std::string_view a, std::string_view b);
double jaro_winkler(std::string_view a, std::string_view b);
double trigram_similarity(std::string_view a, std::string_view b);
double combined_score(std::string_view a, std::string_view b);
double token_sort_ratio(std::string_view a, std::string_view b);
double token_set_ratio(std::string_view a, std::string_view b);

// The same for texts as code points (no surrogates).
std::uint64_t levenshtein(std::u32string_view a, std::u32string_view b);
double jaro_winkler(std::u32string_view a, std::u32string_view b);
double trigram_similarity(std::u32string_view a, std::u32string_view b);
double combined_score(std::u32string_view a, std::u32string_view b);
double token_sort_ratio(std::u32string_view a, std::u32string_view b);
double token_set_ratio(std::u32string_view a, std::u32string_view b);

}  // namespace pelgar::measures
