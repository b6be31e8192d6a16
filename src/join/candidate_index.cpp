#include "join/candidate_index.hpp"

#include <algorithm>
#include <cmath>
#include <numeric>
#include <optional>
#include <string>

#include "common/stop.hpp"
#include "matching/score_bound.hpp"
#include "measures/grouped_scorer.hpp"
#include "text/utf8.hpp"

namespace pelgar::join {

CandidateIndex::CandidateIndex(Scorer scorer, PreparedTexts texts)
    : scorer_(scorer), texts_(std::move(texts)), postings_(texts_), groups_(texts_) {}

std::size_t CandidateIndex::memory_bytes() const noexcept {
    return sizeof(*this) + texts_.memory_bytes() + postings_.memory_bytes() + groups_.memory_bytes();
}

// One query's search: the best list so far, and the cutoff a candidate must reach to
// change it. Candidates that share trigram buckets with the query come first, most shared
// first; then the rest, by length outward from the query's.
class TopKSearch {
public:
    TopKSearch(const CandidateIndex& index, std::u32string_view query, std::size_t k, double threshold)
        : index_(index), query_(query), k_(k), threshold_(threshold), bound_(query) {}

    std::vector<matching::Match> run() {
        std::vector<std::uint32_t> shared(index_.size(), 0);
        std::vector<std::uint32_t> touched;
        index_.postings_.count_shared(query_, shared, touched);
        by_shared_trigrams(shared, touched);
        by_length(shared);
        flush_scores();
        std::sort(best_.begin(), best_.end(), better);
        return std::move(best_);
    }

private:
    static bool better(const matching::Match& x, const matching::Match& y) {
        return x.score > y.score || (x.score == y.score && x.index < y.index);
    }

    // A candidate whose bound is below this cannot enter the list.
    double cutoff() const { return best_.size() < k_ ? threshold_ : std::max(threshold_, best_.front().score); }

    measures::GroupedScorer& scorer() {
        if (!scorer_) scorer_.emplace(query_);
        return *scorer_;
    }

    // Short candidates are scored in groups, so a score may come with a later candidate's;
    // the list is the same whatever the order, and a late score only leaves the cutoff low.
    void consider(std::uint32_t position, std::size_t shared_trigrams) {
        poll_(static_cast<std::int64_t>(index_.texts_.length(position)) + 1);
        text::decode_utf8(index_.texts_.key(position), candidate_);
        if (bound_.upper_bound(candidate_, shared_trigrams) < cutoff()) return;
        scorer().offer(position, candidate_, [this](std::size_t scored, double score) { take(scored, score); });
    }

    void flush_scores() {
        if (scorer_) scorer_->flush([this](std::size_t scored, double score) { take(scored, score); });
    }

    void take(std::size_t position, double score) {
        const matching::Match match{position, score};
        if (!(match.score >= threshold_)) return;
        // best_ is a heap whose front is the worst entry of the list.
        if (best_.size() < k_) {
            best_.push_back(match);
            std::push_heap(best_.begin(), best_.end(), better);
        } else if (better(match, best_.front())) {
            std::pop_heap(best_.begin(), best_.end(), better);
            best_.back() = match;
            std::push_heap(best_.begin(), best_.end(), better);
        }
    }

    // Touched candidates by their shared count, most first; a level ends the search here
    // once no length can lift its bound to the cutoff, and lower levels can do no better.
    void by_shared_trigrams(const std::vector<std::uint32_t>& shared, const std::vector<std::uint32_t>& touched) {
        if (touched.empty()) return;
        const std::size_t n = query_.size();
        const std::size_t levels = n - 1;  // counts 0 to n - 2
        std::vector<std::size_t> begins(levels + 1, 0);
        for (const std::uint32_t t : touched) ++begins[levels - 1 - std::min<std::size_t>(shared[t], n - 2)];
        for (std::size_t l = 0; l < levels; ++l) begins[l + 1] += begins[l];
        std::vector<std::uint32_t> ordered(touched.size());
        for (const std::uint32_t t : touched) ordered[--begins[levels - 1 - std::min<std::size_t>(shared[t], n - 2)]] = t;
        std::vector<double> bound_by_group(index_.groups_.count());
        for (std::size_t l = 0; l < levels; ++l) {
            const std::size_t end = l + 1 < levels ? begins[l + 1] : ordered.size();
            if (begins[l] == end) continue;
            const std::size_t count = levels - 1 - l;
            double best = -1.0;
            for (std::size_t g = 0; g < bound_by_group.size(); ++g) {
                bound_by_group[g] = matching::ScoreBound::length_bound(n, index_.groups_.length(g), count);
                best = std::max(best, bound_by_group[g]);
            }
            if (best < cutoff()) return;
            for (std::size_t i = begins[l]; i < end; ++i) {
                const std::uint32_t t = ordered[i];
                if (bound_by_group[index_.groups_.group_of(index_.texts_.length(t))] >= cutoff()) consider(t, count);
            }
        }
    }

    // The candidates that share no trigram bucket with the query (all of them for a query
    // under three characters): length groups outward from the query's length, each side
    // ending at the first group whose length alone rules it out.
    void by_length(const std::vector<std::uint32_t>& shared) {
        const LengthGroups& groups = index_.groups_;
        const std::size_t n = query_.size();
        const std::size_t count = groups.count();
        if (count == 0 || matching::ScoreBound::length_bound(n, n, 0) < cutoff()) return;
        std::size_t up = groups.first_at_least(n);
        std::size_t down = up;  // groups [0, down) lie below, [up, count) at or above
        bool up_open = up < count, down_open = down > 0;
        while (up_open || down_open) {
            const bool take_up = up_open && (!down_open || groups.length(up) - n <= n - groups.length(down - 1));
            const std::size_t g = take_up ? up++ : --down;
            if (matching::ScoreBound::length_bound(n, groups.length(g), 0) < cutoff()) {
                (take_up ? up_open : down_open) = false;
            } else {
                for (const std::uint32_t position : groups.members(g))
                    if (shared[position] == 0) consider(position, 0);
            }
            up_open = up_open && up < count;
            down_open = down_open && down > 0;
        }
    }

    const CandidateIndex& index_;
    std::u32string_view query_;
    std::size_t k_;
    double threshold_;
    matching::ScoreBound bound_;
    std::optional<measures::GroupedScorer> scorer_;
    std::u32string candidate_;
    std::vector<matching::Match> best_;
    StopPoll poll_;  // a long search ends early when its run is asked to stop
};

std::vector<matching::Match> CandidateIndex::top_k(std::u32string_view query, std::size_t k, double threshold) const {
    if (k == 0 || std::isnan(threshold) || texts_.size() == 0) return {};
    return TopKSearch(*this, query, k, threshold).run();
}

}  // namespace pelgar::join
