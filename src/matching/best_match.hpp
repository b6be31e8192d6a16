#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "matching/best_of.hpp"
#include "matching/match.hpp"
#include "text/normalize.hpp"

namespace pelgar::matching {

// The best-of rule over candidates as passed, offered one at a time in input order: each is
// normalised and scored against the normalised query; a score >= the running best replaces
// it, so the last of equal top scores wins. Absent for no candidates. No threshold here.
class BestMatchSearch {
public:
    explicit BestMatchSearch(std::u32string_view query);
    BestMatchSearch(const BestMatchSearch&) = delete;  // the search holds views of the query
    BestMatchSearch& operator=(const BestMatchSearch&) = delete;

    // The candidate's index is the number of candidates offered before it. True when it is
    // now the best.
    bool offer(std::u32string_view candidate) {
        const std::size_t index = offered_++;
        search_.offer(index, candidate_.normalize(candidate));
        return search_.best()->index == index;
    }
    const std::optional<Match>& best() const noexcept { return search_.best(); }

private:
    const std::u32string normalized_query_;
    BestOf search_;
    text::NormalizedBuffer candidate_;
    std::size_t offered_ = 0;
};

}  // namespace pelgar::matching
