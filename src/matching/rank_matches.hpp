#pragma once

#include <string_view>
#include <vector>

#include "matching/match.hpp"
#include "matching/text_list.hpp"

namespace pelgar::matching {

// Every candidate with its score, by descending score; equal scores keep input order.
std::vector<Match> rank_all(std::string_view query, const TextList& candidates);

}  // namespace pelgar::matching
