#pragma once

#include <algorithm>
#include <cstddef>
#include <vector>

#include "matching/match.hpp"

namespace pelgar::join {

// The best list so far of one query: up to k rows with score >= threshold, by descending
// score, equal scores by lower row; and the cutoff a row must reach to change it.
class BestRows {
public:
    BestRows(std::size_t k, double threshold) : k_(k), threshold_(threshold) {}

    // A row whose bound is below this cannot enter the list.
    double cutoff() const { return best_.size() < k_ ? threshold_ : std::max(threshold_, best_.front().score); }

    // False when the row did not enter: a later row of the same score would not either.
    bool offer(const matching::Match& match) {
        if (!(match.score >= threshold_)) return false;
        // best_ is a heap whose front is the worst entry of the list.
        if (best_.size() < k_) {
            best_.push_back(match);
            std::push_heap(best_.begin(), best_.end(), better);
        } else if (better(match, best_.front())) {
            std::pop_heap(best_.begin(), best_.end(), better);
            best_.back() = match;
            std::push_heap(best_.begin(), best_.end(), better);
        } else {
            return false;
        }
        return true;
    }

    std::vector<matching::Match> sorted() && {
        std::sort(best_.begin(), best_.end(), better);
        return std::move(best_);
    }

private:
    static bool better(const matching::Match& x, const matching::Match& y) {
        return x.score > y.score || (x.score == y.score && x.index < y.index);
    }

    std::size_t k_;
    double threshold_;
    std::vector<matching::Match> best_;
};

}  // namespace pelgar::join
