#pragma once

#include <optional>
#include <vector>

#include "matching/match.hpp"
#include "matching/text_list.hpp"

namespace pelgar::matching {

// find_best_match() for every query, on the worker pool; answers in query order.
std::vector<std::optional<Match>> batch_find_best(const TextList& queries, const TextList& candidates);

}  // namespace pelgar::matching
