#include "join/self_join.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "join/candidate_search.hpp"
#include "text/utf8.hpp"

namespace pelgar::join {

namespace {

// The partners one probe wants: other keys with a row after the probe key's first row,
// not joined to it already, whose score reaches the threshold.
class Partners {
public:
    Partners(const KeyGroups& keys, std::uint32_t key, double threshold, PairSink& sink)
        : keys_(keys), key_(key), first_row_(keys.first_row(key)), threshold_(threshold), sink_(sink) {}

    double cutoff() const { return threshold_; }
    void prefetch(std::uint32_t partner) const { keys_.prefetch_last_row(partner); }
    bool admits(std::uint32_t partner) {
        return partner != key_ && keys_.last_row(partner) > first_row_ && !sink_.skip(key_, partner);
    }
    void take(std::uint32_t partner, double score) {
        // One score settles every pair of their rows.
        settled_ += keys_.rows(key_).size() == 1 && keys_.rows(partner).size() == 1
                        ? 1
                        : ordered_row_pairs(keys_, key_, partner);
        if (score >= threshold_) sink_.found(key_, partner, score);
    }
    std::size_t settled() const noexcept { return settled_; }

private:
    const KeyGroups& keys_;
    std::uint32_t key_;
    std::uint32_t first_row_;
    double threshold_;
    PairSink& sink_;
    std::size_t settled_ = 0;
};

}  // namespace

SelfJoin::SelfJoin(const PreparedTexts& texts, double threshold)
    : threshold_(threshold), index_(Scorer::combined, texts) {}

std::size_t SelfJoin::probe(std::uint32_t key, PairSink& sink) const {
    // Distinct keys score below 1.0, and over a threshold above it nothing qualifies.
    if (!(threshold_ <= 1.0)) return 0;
    Partners partners(keys(), key, threshold_, sink);
    const std::u32string query = text::decode_utf8(keys().key(key));
    CandidateSearch<Partners>(keys(), index_.postings(), query, SearchScratch::of_this_thread(), partners).run();
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
    for (std::uint32_t i = 0; i < keys.row_count(); ++i) {
        const std::uint32_t key = keys.key_of(i);
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
