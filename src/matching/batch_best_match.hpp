#pragma once

#include <cstddef>
#include <optional>
#include <string_view>
#include <vector>

#include "matching/match.hpp"
#include "matching/text_list.hpp"
#include "text/normalize.hpp"

namespace pelgar::matching {

// Texts as code points, back to back.
using CodePointTexts = PackedTexts<char32_t>;

// The candidates, normalised once for the whole batch into one buffer, back to back, and
// shared read-only by the workers: each query then reads them in one sweep of memory.
class PreparedCandidates {
public:
    void reserve(std::size_t candidates) { normalized_.reserve(candidates); }
    // Appends a candidate as passed.
    void add(std::u32string_view candidate) { normalized_.push_back(scratch_.normalize(candidate)); }
    const CodePointTexts& normalized() const noexcept { return normalized_; }

private:
    CodePointTexts normalized_;
    text::NormalizedBuffer scratch_;
};

// The best-of rule of BestMatchSearch for every query (as passed), on the worker pool;
// answers in query order.
std::vector<std::optional<Match>> batch_find_best(const CodePointTexts& queries, const PreparedCandidates& candidates);

}  // namespace pelgar::matching
