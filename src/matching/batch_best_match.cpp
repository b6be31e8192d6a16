#include "matching/batch_best_match.hpp"

#include <algorithm>
#include <string>

#include "common/stop.hpp"
#include "matching/best_of.hpp"
#include "matching/char_buckets.hpp"
#include "worker_pool/parallel_map.hpp"

namespace pelgar::matching {

namespace {

// The normalised candidates as the queries search them: back to back, ordered by length
// (input order within a length), each with its bucket counts. A query visits the lengths
// nearest its own first and stops at the lengths whose ceiling is below its best, without
// touching their candidates. Shared read-only by the workers.
struct ByLength {
    CodePointTexts texts;
    std::vector<std::size_t> positions;      // each text's position in the input
    std::vector<CharBuckets> buckets;
    std::vector<std::size_t> length_starts;  // the texts of length m: length_starts[m] to [m + 1]

    std::size_t lengths() const { return length_starts.size() - 1; }
};

ByLength by_length(const CodePointTexts& texts) {
    ByLength ordered;
    std::size_t longest = 0;
    for (std::size_t i = 0; i < texts.size(); ++i) longest = std::max(longest, texts[i].size());
    // A counting sort by length, stable.
    ordered.length_starts.assign(longest + 2, 0);
    for (std::size_t i = 0; i < texts.size(); ++i) ++ordered.length_starts[texts[i].size() + 1];
    for (std::size_t m = 1; m < ordered.length_starts.size(); ++m)
        ordered.length_starts[m] += ordered.length_starts[m - 1];
    std::vector<std::size_t> next(ordered.length_starts.begin(), ordered.length_starts.end() - 1);
    ordered.positions.resize(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) ordered.positions[next[texts[i].size()]++] = i;

    ordered.texts.reserve(texts.size());
    ordered.buckets.reserve(texts.size());
    StopPoll poll;
    for (const std::size_t position : ordered.positions) {
        const std::u32string_view text = texts[position];
        poll(candidate_work(text.size()));
        ordered.texts.push_back(text);
        ordered.buckets.emplace_back(text.size() <= CharBuckets::kMaxLength ? text : std::u32string_view());
    }
    return ordered;
}

std::optional<Match> best_of_prepared(std::u32string_view query, const ByLength& candidates) {
    const std::u32string normalized_query = text::normalize(query);
    BestOf search(normalized_query);
    StopPoll poll;
    auto offer_length = [&](std::size_t m) {
        for (std::size_t i = candidates.length_starts[m]; i < candidates.length_starts[m + 1]; ++i) {
            const std::u32string_view candidate = candidates.texts[i];
            poll(candidate_work(candidate.size()));
            search.offer(candidates.positions[i], candidate, candidates.buckets[i]);
        }
    };
    // Outwards from the query's length; the ceiling of a length never rises further out, so
    // each side ends at its first length out of reach.
    const std::size_t n = normalized_query.size();
    bool shorter_open = true, longer_open = true;
    if (n < candidates.lengths()) offer_length(n);
    for (std::size_t d = 1; shorter_open || longer_open; ++d) {
        if (shorter_open) {
            if (d > n || search.out_of_reach(n - d))
                shorter_open = false;
            else if (n - d < candidates.lengths())
                offer_length(n - d);
        }
        if (longer_open) {
            if (n + d >= candidates.lengths() || search.out_of_reach(n + d))
                longer_open = false;
            else
                offer_length(n + d);
        }
    }
    return search.best();
}

}  // namespace

std::vector<std::optional<Match>> batch_find_best(const CodePointTexts& queries, const PreparedCandidates& candidates) {
    const ByLength ordered = by_length(candidates.normalized());
    std::vector<std::u32string_view> items(queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i) items[i] = queries[i];
    return pool::parallel_map<std::optional<Match>>(std::span<const std::u32string_view>(items), ordered,
                                                    best_of_prepared);
}

}  // namespace pelgar::matching
