#include "join/self_join.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>
#include <utility>

#include "join/candidate_search.hpp"
#include "join/self_join_prefix.hpp"
#include "measures/weighted_score.hpp"
#include "text/utf8.hpp"

namespace pelgar::join {

namespace {

// The partners one probe wants: keys after the probe key (each pair of keys is met once),
// not joined to it already, whose score reaches the threshold in the order their rows
// need: the probe key first when one of its rows comes before one of the partner's, the
// partner first when one of the partner's comes before one of the probe key's.
class Partners {
public:
    Partners(const KeyGroups& keys, std::uint32_t key, std::u32string_view text, double threshold, PairSink& sink)
        : keys_(keys), key_(key), text_(text), threshold_(threshold), sink_(sink) {}

    std::uint32_t first_key() const { return key_ + 1; }
    double cutoff() const { return threshold_; }
    void prefetch(std::uint32_t partner) const { keys_.prefetch_rows(partner); }
    bool admits(std::uint32_t partner) { return !sink_.skip(key_, partner); }

    // The partner-first score is made here, alone; the key-first one in the search's groups.
    bool score_query_first(std::uint32_t partner, std::u32string_view text) {
        if (keys_.first_row(partner) < keys_.last_row(key_)) {
            const double score = measures::weighted_score(text, text_);
            settle(partner, key_);
            if (score >= threshold_) sink_.found(partner, key_, score);
        }
        return keys_.first_row(key_) < keys_.last_row(partner);
    }
    void take(std::uint32_t partner, double score) {
        settle(key_, partner);
        if (score >= threshold_) sink_.found(key_, partner, score);
    }
    std::size_t settled() const noexcept { return settled_; }

private:
    // One score settles every pair of rows of the two keys in its order.
    void settle(std::uint32_t first, std::uint32_t second) {
        settled_ += keys_.rows(first).size() == 1 && keys_.rows(second).size() == 1
                        ? 1
                        : ordered_row_pairs(keys_, first, second);
    }

    const KeyGroups& keys_;
    std::uint32_t key_;
    std::u32string_view text_;
    double threshold_;
    PairSink& sink_;
    std::size_t settled_ = 0;
};

}  // namespace

SelfJoin::SelfJoin(const PreparedTexts& texts, double threshold) : SelfJoin(KeyGroups(texts), threshold) {}

SelfJoin::SelfJoin(KeyGroups keys, double threshold)
    : threshold_(threshold), keys_(std::move(keys)), postings_(keys_, self_join_prefixes(keys_, threshold)) {}

std::size_t SelfJoin::probe(std::uint32_t key, PairSink& sink) const {
    // Scores are at most 1.0: over a threshold above it (or NaN) nothing qualifies.
    if (!(threshold_ <= 1.0)) return 0;
    const std::u32string query = text::decode_utf8(keys().key(key));
    Partners partners(keys(), key, query, threshold_, sink);
    CandidateSearch<Partners>(keys(), postings_, query, SearchScratch::of_this_thread(), partners).run();
    return partners.settled();
}

std::size_t ordered_row_pairs(const KeyGroups& keys, std::uint32_t key, std::uint32_t partner) {
    const auto rows = keys.rows(key);
    const auto partners = keys.rows(partner);
    std::size_t pairs = 0, j = 0;
    // For each row of the key, the partner rows after it.
    for (const std::uint32_t i : rows) {
        while (j < partners.size() && partners[j] <= i) ++j;
        pairs += partners.size() - j;
    }
    return pairs;
}

std::vector<Pair> row_pairs(const KeyGroups& keys, double threshold,
                            const std::vector<std::vector<std::pair<std::uint32_t, double>>>& found) {
    const bool within = 1.0 >= threshold;
    std::size_t total = 0;
    for (std::uint32_t key = 0; key < keys.count(); ++key) {
        const std::size_t size = keys.rows(key).size();
        if (within) total += size * (size - 1) / 2;
        for (const auto& [partner, score] : found[key]) total += ordered_row_pairs(keys, key, partner);
    }
    std::vector<Pair> pairs;
    pairs.reserve(total);
    const std::vector<std::uint32_t> key_of = keys.keys_of_rows();
    for (std::uint32_t i = 0; i < keys.row_count(); ++i) {
        const std::uint32_t key = key_of[i];
        if (key == KeyGroups::kNoKey) continue;
        const std::size_t start = pairs.size();
        auto after_i = [&](std::uint32_t of, double score) {
            const auto rows = keys.rows(of);
            for (auto j = std::upper_bound(rows.begin(), rows.end(), i); j != rows.end(); ++j)
                pairs.push_back({i, *j, score});
        };
        if (within) after_i(key, 1.0);
        for (const auto& [partner, score] : found[key]) after_i(partner, score);
        if (!found[key].empty())
            std::sort(pairs.begin() + static_cast<std::ptrdiff_t>(start), pairs.end(),
                      [](const Pair& x, const Pair& y) { return x.second < y.second; });
    }
    return pairs;
}

}  // namespace pelgar::join
