#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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

    // The candidate's index is the number of candidates offered before it. True when it was
    // not passed over: a caller that keeps the best one's object keeps this one's until its
    // index comes out of released().
    bool offer(std::u32string_view candidate) {
        const std::size_t index = offered_++;
        const std::size_t skipped = search_.skipped();
        search_.offer(index, candidate_.normalize(candidate));
        return search_.skipped() == skipped;
    }
    // The indices of offered candidates that can no longer be the best, since the caller last
    // emptied this list; the caller empties it.
    std::vector<std::size_t>& released() noexcept { return released_; }
    // The best of all candidates offered.
    const std::optional<Match>& best() { return search_.best(); }

private:
    const std::u32string normalized_query_;
    std::vector<std::size_t> released_;
    BestOf search_;
    text::NormalizedBuffer candidate_;
    std::size_t offered_ = 0;
};

}  // namespace pelgar::matching
