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
class PreparedCandidates {
public:
    explicit PreparedCandidates(const TextList& candidates) {
        ends_.reserve(candidates.size());
        StopPoll poll;
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            const std::string_view text = candidates[i];
            poll(candidate_work(text.size()));
            const std::size_t begin = chars_.size();
            chars_.resize(begin + text.size());  // at most one code point per byte
            const char32_t* end = text::normalize_into(text, chars_.data() + begin);
            chars_.resize(static_cast<std::size_t>(end - chars_.data()));
            ends_.push_back(chars_.size());
        }
    }

    std::size_t size() const noexcept { return ends_.size(); }
    std::u32string_view operator[](std::size_t i) const noexcept {
        const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
        return std::u32string_view(chars_).substr(begin, ends_[i] - begin);
    }

private:
    std::u32string chars_;
    std::vector<std::size_t> ends_;
};

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
    const PreparedCandidates prepared(candidates);

    std::vector<std::string_view> items(queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i) items[i] = queries[i];
    return pool::parallel_map<std::optional<Match>>(std::span<const std::string_view>(items), prepared,
                                                    best_of_prepared);
}

}  // namespace pelgar::matching
