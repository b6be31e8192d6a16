#pragma once

#include <optional>
#include <string_view>

#include "matching/match.hpp"
#include "matching/text_list.hpp"

namespace pelgar::matching {

// The best-of rule: candidates in input order, a score >= the running best replaces it,
// so the last of equal top scores wins. Absent for no candidates. No threshold here.
std::optional<Match> find_best_match(std::string_view query, const TextList& candidates);

}  // namespace pelgar::matching
