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

    // The candidate's index is the number of candidates offered before it. True when it may
    // turn out the best: a caller that keeps the best one's object keeps this one's while
    // contends() says so.
    bool offer(std::u32string_view candidate) {
        const std::size_t index = offered_++;
        search_.offer(index, candidate_.normalize(candidate));
        return search_.contends(index);
    }
    bool contends(std::size_t index) const { return search_.contends(index); }
    // The best of all candidates offered.
    const std::optional<Match>& best() { return search_.best(); }

private:
    const std::u32string normalized_query_;
    BestOf search_;
    text::NormalizedBuffer candidate_;
    std::size_t offered_ = 0;
};

}  // namespace pelgar::matching
