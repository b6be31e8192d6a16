#include "join/candidate_index.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "join/candidate_search.hpp"

namespace pelgar::join {

CandidateIndex::CandidateIndex(Scorer scorer, const PreparedTexts& texts)
    : scorer_(scorer), keys_(texts), postings_(keys_) {}

std::size_t CandidateIndex::memory_bytes() const noexcept {
    return sizeof(*this) + keys_.memory_bytes() + postings_.memory_bytes();
}

namespace {

// The best list so far of one query, and the cutoff a key must reach to change it.
class TopK {
public:
    TopK(const KeyGroups& keys, std::size_t k, double threshold) : keys_(keys), k_(k), threshold_(threshold) {}

    static constexpr bool kScoresAlone = false;
    std::uint32_t first_key() const { return 0; }
    // A key whose bound is below this cannot enter the list.
    double cutoff() const { return best_.size() < k_ ? threshold_ : std::max(threshold_, best_.front().score); }
    void prefetch(std::uint32_t) const {}
    bool admits(std::uint32_t) const { return true; }
    bool score_query_first(std::uint32_t, std::u32string_view) const { return true; }

    // A key's score goes to each of its rows, lowest first, while they can enter the list.
    void take(std::uint32_t key, double score) {
        if (!(score >= threshold_)) return;
        for (const std::uint32_t row : keys_.rows(key)) {
            const matching::Match match{row, score};
            // best_ is a heap whose front is the worst entry of the list.
            if (best_.size() < k_) {
                best_.push_back(match);
                std::push_heap(best_.begin(), best_.end(), better);
            } else if (better(match, best_.front())) {
                std::pop_heap(best_.begin(), best_.end(), better);
                best_.back() = match;
                std::push_heap(best_.begin(), best_.end(), better);
            } else {
                return;  // the key's later rows rank lower still
            }
        }
    }

    std::vector<matching::Match> sorted() && {
        std::sort(best_.begin(), best_.end(), better);
        return std::move(best_);
    }

private:
    static bool better(const matching::Match& x, const matching::Match& y) {
        return x.score > y.score || (x.score == y.score && x.index < y.index);
    }

    const KeyGroups& keys_;
    std::size_t k_;
    double threshold_;
    std::vector<matching::Match> best_;
};

}  // namespace

std::vector<matching::Match> CandidateIndex::top_k(std::u32string_view query, std::size_t k, double threshold,
                                                   std::size_t* scored) const {
    if (k == 0 || std::isnan(threshold) || keys_.count() == 0) return {};
    TopK best(keys_, k, threshold);
    const std::size_t count =
        CandidateSearch<TopK>(keys_, postings_, query, SearchScratch::of_this_thread(), best).run();
    if (scored) *scored += count;
    return std::move(best).sorted();
}

}  // namespace pelgar::join
