#include "matching/batch_best_match.hpp"

#include <string>

#include "common/stop.hpp"
#include "matching/best_of.hpp"
#include "worker_pool/parallel_map.hpp"

namespace pelgar::matching {

namespace {

std::optional<Match> best_of_prepared(std::u32string_view query, const CodePointTexts& candidates) {
    const std::u32string normalized_query = text::normalize(query);
    BestOf search(normalized_query);
    StopPoll poll;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const std::u32string_view candidate = candidates[i];
        poll(candidate_work(candidate.size()));
        search.offer(i, candidate);
    }
    return search.best();
}

}  // namespace

std::vector<std::optional<Match>> batch_find_best(const CodePointTexts& queries, const PreparedCandidates& candidates) {
    std::vector<std::u32string_view> items(queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i) items[i] = queries[i];
    return pool::parallel_map<std::optional<Match>>(std::span<const std::u32string_view>(items),
                                                    candidates.normalized(), best_of_prepared);
}

}  // namespace pelgar::matching
