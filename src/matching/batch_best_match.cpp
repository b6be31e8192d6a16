#include "matching/batch_best_match.hpp"

#include <string>
#include <string_view>

#include "common/stop.hpp"
#include "matching/best_of.hpp"
#include "matching/char_buckets.hpp"
#include "text/normalize.hpp"
#include "worker_pool/parallel_map.hpp"

namespace pelgar::matching {

namespace {

// The candidates, normalised once for the whole batch and shared read-only by the workers:
// back to back in one buffer, ordered by length (input order within a length), each with
// its bucket counts. A query then visits the lengths nearest its own first and stops at
// the lengths whose ceiling is below its best, without touching their candidates.
struct PreparedCandidates {
    PackedTexts<char32_t> texts;
    std::vector<std::size_t> positions;      // each text's position in the input
    std::vector<CharBuckets> buckets;
    std::vector<std::size_t> length_starts;  // the texts of length m: length_starts[m] to [m + 1]

    std::size_t lengths() const { return length_starts.size() - 1; }
};

PackedTexts<char32_t> normalized(const TextList& candidates) {
    PackedTexts<char32_t> texts;
    texts.reserve(candidates.size());
    StopPoll poll;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const std::string_view text = candidates[i];
        poll(candidate_work(text.size()));
        // At most one code point per byte.
        texts.push_back_written(text.size(), [&](char32_t* out) { return text::normalize_into(text, out); });
    }
    return texts;
}

PreparedCandidates prepare(const TextList& candidates) {
    const PackedTexts<char32_t> texts = normalized(candidates);
    PreparedCandidates prepared;
    std::size_t longest = 0;
    for (std::size_t i = 0; i < texts.size(); ++i) longest = std::max(longest, texts[i].size());
    // A counting sort by length, stable.
    prepared.length_starts.assign(longest + 2, 0);
    for (std::size_t i = 0; i < texts.size(); ++i) ++prepared.length_starts[texts[i].size() + 1];
    for (std::size_t m = 1; m < prepared.length_starts.size(); ++m)
        prepared.length_starts[m] += prepared.length_starts[m - 1];
    std::vector<std::size_t> next(prepared.length_starts.begin(), prepared.length_starts.end() - 1);
    prepared.positions.resize(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) prepared.positions[next[texts[i].size()]++] = i;

    prepared.texts.reserve(texts.size());
    prepared.buckets.reserve(texts.size());
    StopPoll poll;
    for (const std::size_t position : prepared.positions) {
        const std::u32string_view text = texts[position];
        poll(candidate_work(text.size()));
        prepared.texts.push_back(text);
        prepared.buckets.emplace_back(text.size() <= CharBuckets::kMaxLength ? text : std::u32string_view());
    }
    return prepared;
}

std::optional<Match> best_of_prepared(std::string_view query, const PreparedCandidates& candidates) {
    std::u32string normalized_query;
    text::normalize_into(query, normalized_query);
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

std::vector<std::optional<Match>> batch_find_best(const TextList& queries, const TextList& candidates) {
    const PreparedCandidates prepared = prepare(candidates);

    std::vector<std::string_view> items(queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i) items[i] = queries[i];
    return pool::parallel_map<std::optional<Match>>(std::span<const std::string_view>(items), prepared,
                                                    best_of_prepared);
}

}  // namespace pelgar::matching
