#include "join/self_join.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "common/stop.hpp"
#include "join/search_scratch.hpp"
#include "matching/score_bound.hpp"
#include "measures/grouped_scorer.hpp"
#include "text/utf8.hpp"

namespace pelgar::join {

using matching::ScoreBound;

namespace {

bool qualifies(std::size_t n, std::size_t m, double threshold) {
    return ScoreBound::length_bound(n, m, ScoreBound::kUnknownShared) >= threshold;
}

}  // namespace

// One probe: the partners of a key by its prefix lists or by the allowed lengths, each
// checked against its bound and then scored in groups with the key first.
class SelfJoinProbe {
public:
    SelfJoinProbe(const SelfJoin& join, std::uint32_t key, PairSink& sink, SearchScratch& scratch)
        : join_(join), keys_(join.keys()), key_(key), sink_(sink), scratch_(scratch),
          query_(text::decode_utf8(keys_.key(key))), bound_(query_) {}

private:
    // Where the scorer sends each score, possibly after later partners were offered.
    auto deliver() {
        return [this](std::size_t partner, double score) {
            if (score >= join_.threshold()) sink_.found(key_, static_cast<std::uint32_t>(partner), score);
        };
    }

public:
    std::size_t run(const std::size_t low, const std::size_t high, bool by_trigrams) {
        std::size_t g = keys_.length_group_at_least(low);
        for (; g < keys_.length_count() && keys_.length_at(g) <= high; ++g) {
            if (by_trigrams && keys_.length_at(g) >= 3) break;
            for (std::uint32_t b = keys_.first_key_of_length(g); b < keys_.first_key_of_length(g + 1); ++b)
                partner(b, ScoreBound::kUnknownShared);
        }
        if (by_trigrams && g < keys_.length_count()) by_prefix(g, high);
        if (scorer_) scorer_->flush(deliver());
        return scored_;
    }

private:
    // Partners from the lists of the key's prefix elements, lengths from group `first` up to `high`.
    void by_prefix(std::size_t first, std::size_t high) {
        const std::size_t n = query_.size();
        const TrigramPostings& postings = join_.postings_;
        ranked_elements(postings, query_, scratch_.elements);
        const std::vector<std::uint32_t>& ranks = scratch_.elements.ranks;
        const std::size_t size = ranks.size();
        const std::size_t prefix = SelfJoin::prefix_size(&join_, key_, size);
        const std::uint32_t low_key = keys_.first_key_of_length(first);
        const std::uint32_t high_key = keys_.first_key_of_length(keys_.length_group_at_least(high + 1));
        scratch_.seen.prepare(keys_.count());
        try {
            for (std::size_t i = 0; i < prefix; ++i) {
                poll_(static_cast<std::int64_t>(postings.size(ranks[i])));
                std::size_t g = first;
                postings.each(ranks[i], low_key, high_key, [&](std::uint32_t b, std::uint8_t place) {
                    if (!scratch_.seen.insert(b)) return;
                    while (b >= keys_.first_key_of_length(g + 1)) ++g;
                    const std::size_t m = keys_.length_at(g);
                    const std::size_t shared = 1 + std::min(size - i - 1, m - 3 - std::min<std::size_t>(place, m - 3));
                    if (ScoreBound::length_bound(n, m, shared) < join_.threshold()) return;
                    partner(b, shared);
                });
            }
        } catch (...) {
            scratch_.seen.clear();
            throw;
        }
        scratch_.seen.clear();
    }

    void partner(std::uint32_t b, std::size_t shared) {
        if (keys_.last_row(b) <= keys_.first_row(key_) || sink_.skip(key_, b)) return;
        poll_(static_cast<std::int64_t>(keys_.length(b)) + 1);
        text::decode_utf8(keys_.key(b), scratch_.candidate);
        if (bound_.upper_bound(scratch_.candidate, shared) < join_.threshold()) return;
        if (!scorer_) scorer_.emplace(query_);
        // One score settles every pair of their rows.
        scored_ += keys_.rows(key_).size() == 1 && keys_.rows(b).size() == 1 ? 1 : ordered_row_pairs(keys_, key_, b);
        scorer_->offer(b, scratch_.candidate, deliver());
    }

    const SelfJoin& join_;
    const KeyGroups& keys_;
    std::uint32_t key_;
    PairSink& sink_;
    SearchScratch& scratch_;
    std::u32string query_;
    ScoreBound bound_;
    std::optional<measures::GroupedScorer> scorer_;
    std::size_t scored_ = 0;
    StopPoll poll_;  // a long probe ends early when its run is asked to stop
};

SelfJoin::SelfJoin(const PreparedTexts& texts, double threshold) : threshold_(threshold), keys_(texts) {
    // Distinct keys score below 1.0 and above a threshold over 1.0 nothing qualifies.
    if (!(threshold_ <= 1.0) || keys_.count() == 0) return;
    plan_lengths();
    if (indexed_) postings_ = TrigramPostings(keys_, prefix_size, this);
}

// Each side of a length is scanned outward up to the first length that the bound rules
// out, since with any number of shared trigrams the bound never grows as the lengths part.
void SelfJoin::plan_lengths() {
    const std::size_t count = keys_.length_count();
    plans_.assign(count, LengthPlan{});
    for (std::size_t g = 0; g < count; ++g) {
        const std::size_t n = keys_.length_at(g);
        LengthPlan& p = plans_[g];
        if (!qualifies(n, n, threshold_)) continue;
        std::size_t low = g, high = g;
        while (low > 0 && qualifies(n, keys_.length_at(low - 1), threshold_)) --low;
        while (high + 1 < count && qualifies(n, keys_.length_at(high + 1), threshold_)) ++high;
        p.low = keys_.length_at(low);
        p.high = keys_.length_at(high);
        if (n < 3) continue;
        p.min_shared = ScoreBound::kUnreachable;
        for (std::size_t h = low; h <= high; ++h)
            if (keys_.length_at(h) >= 3)
                p.min_shared = std::min(p.min_shared, ScoreBound::min_shared_trigrams(n, keys_.length_at(h), threshold_));
        p.by_trigrams = p.min_shared >= 1;
        indexed_ = indexed_ || p.by_trigrams;
    }
}

// Two keys that share at least c elements share one within the first (size - c + 1) of
// each; c is the fewest that any partner length needs, and at least 1 (a key that probes
// by lengths is still found through its lists by keys that probe by prefix).
std::size_t SelfJoin::prefix_size(const void* join, std::uint32_t key, std::size_t elements) {
    const auto& self = *static_cast<const SelfJoin*>(join);
    const LengthPlan& p = self.plan_of(key);
    if (p.low > p.high || p.min_shared == ScoreBound::kUnreachable) return 0;
    const std::size_t need = std::max<std::size_t>(p.min_shared, 1);
    return need > elements ? 0 : elements - need + 1;
}

std::size_t SelfJoin::probe(std::uint32_t key, PairSink& sink) const {
    if (plans_.empty()) return 0;
    const LengthPlan& p = plan_of(key);
    if (p.low > p.high) return 0;
    return SelfJoinProbe(*this, key, sink, SearchScratch::of_this_thread()).run(p.low, p.high, p.by_trigrams);
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
