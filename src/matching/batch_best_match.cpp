#include "matching/batch_best_match.hpp"

#include <string>
#include <string_view>

#include "common/stop.hpp"
#include "matching/best_of.hpp"
#include "text/normalize.hpp"
#include "worker_pool/parallel_map.hpp"

namespace pelgar::matching {

namespace {

// The candidates, normalised once for the whole batch and shared read-only by the workers.
struct PreparedCandidates {
    std::vector<std::u32string> normalized;
};

std::optional<Match> best_of_prepared(std::string_view query, const PreparedCandidates& candidates) {
    std::u32string normalized_query;
    text::normalize_into(query, normalized_query);
    BestOf search(normalized_query);
    StopPoll poll;
    for (std::size_t i = 0; i < candidates.normalized.size(); ++i) {
        poll(candidate_work(candidates.normalized[i].size()));
        search.offer(i, candidates.normalized[i]);
    }
    return search.best();
}

}  // namespace

std::vector<std::optional<Match>> batch_find_best(const TextList& queries, const TextList& candidates) {
    PreparedCandidates prepared;
    prepared.normalized.resize(candidates.size());
    StopPoll poll;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        poll(candidate_work(candidates[i].size()));
        text::normalize_into(candidates[i], prepared.normalized[i]);
    }

    std::vector<std::string_view> items(queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i) items[i] = queries[i];
    return pool::parallel_map<std::optional<Match>>(std::span<const std::string_view>(items), prepared,
                                                    best_of_prepared);
}

}  // namespace pelgar::matching
