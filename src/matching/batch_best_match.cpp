#include "matching/batch_best_match.hpp"

#include <string>
#include <string_view>

#include "common/stop.hpp"
#include "matching/best_of.hpp"
#include "text/normalize.hpp"
#include "worker_pool/parallel_map.hpp"

namespace pelgar::matching {

namespace {

// The candidates, normalised once for the whole batch into one buffer, back to back, and
// shared read-only by the workers: each query then reads them in one sweep of memory.
using PreparedCandidates = PackedTexts<char32_t>;

PreparedCandidates prepare(const TextList& candidates) {
    PreparedCandidates prepared;
    prepared.reserve(candidates.size());
    StopPoll poll;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const std::string_view text = candidates[i];
        poll(candidate_work(text.size()));
        // At most one code point per byte.
        prepared.push_back_written(text.size(), [&](char32_t* out) { return text::normalize_into(text, out); });
    }
    return prepared;
}

std::optional<Match> best_of_prepared(std::string_view query, const PreparedCandidates& candidates) {
    std::u32string normalized_query;
    text::normalize_into(query, normalized_query);
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

std::vector<std::optional<Match>> batch_find_best(const TextList& queries, const TextList& candidates) {
    const PreparedCandidates prepared = prepare(candidates);

    std::vector<std::string_view> items(queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i) items[i] = queries[i];
    return pool::parallel_map<std::optional<Match>>(std::span<const std::string_view>(items), prepared,
                                                    best_of_prepared);
}

}  // namespace pelgar::matching
