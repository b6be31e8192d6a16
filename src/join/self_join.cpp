#include "join/self_join.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <optional>
#include <string>

#include "common/stop.hpp"
#include "matching/score_bound.hpp"
#include "measures/trigram.hpp"
#include "measures/weighted_score.hpp"
#include "text/utf8.hpp"

namespace pelgar::join {

namespace {

constexpr std::size_t kAnyShared = std::numeric_limits<std::size_t>::max();

bool qualifies(std::size_t n, std::size_t m, std::size_t shared, double threshold) {
    return matching::ScoreBound::length_bound(n, m, shared) >= threshold;
}

// The number of equal entries in two increasing lists.
std::size_t overlap(const std::uint32_t* a, const std::uint32_t* a_end, const std::uint32_t* b,
                    const std::uint32_t* b_end) {
    std::size_t common = 0;
    while (a != a_end && b != b_end) {
        if (*a < *b) {
            ++a;
        } else if (*b < *a) {
            ++b;
        } else {
            ++common;
            ++a;
            ++b;
        }
    }
    return common;
}

// Scores row against partners for one probe: the bound first, then the score.
class Verifier {
public:
    Verifier(const PreparedTexts& texts, std::size_t row, double threshold)
        : texts_(texts), row_(row), threshold_(threshold), query_(text::decode_utf8(texts.key(row))), bound_(query_) {}

    void check(std::size_t partner, std::size_t shared, std::vector<Pair>& out) {
        poll_(static_cast<std::int64_t>(texts_.length(partner)) + 1);
        text::decode_utf8(texts_.key(partner), candidate_);
        if (bound_.upper_bound(candidate_, shared) < threshold_) return;
        if (!scorer_) scorer_.emplace(query_);
        ++scored_;
        const double score = scorer_->score(candidate_);
        if (score >= threshold_)
            out.push_back({static_cast<std::uint32_t>(row_), static_cast<std::uint32_t>(partner), score});
    }

    std::size_t scored() const noexcept { return scored_; }

private:
    const PreparedTexts& texts_;
    std::size_t row_;
    double threshold_;
    std::u32string query_;
    matching::ScoreBound bound_;
    std::optional<measures::WeightedScorer> scorer_;
    std::u32string candidate_;
    std::size_t scored_ = 0;
    StopPoll poll_;  // a long probe ends early when its run is asked to stop
};

}  // namespace

SelfJoin::SelfJoin(const PreparedTexts& texts, double threshold)
    : texts_(texts), threshold_(threshold), groups_(texts) {
    if (std::isnan(threshold_) || groups_.count() == 0) return;
    plan_lengths();
    if (indexed_) build_trigram_index();
}

// Each side of a group is scanned outward up to the first group that the bound rules out,
// since the bound never grows as the lengths part. Only present lengths are planned.
void SelfJoin::plan_lengths() {
    const std::size_t count = groups_.count();
    plans_.assign(count, LengthPlan{});
    indexed_ = threshold_ > 0.75;
    for (std::size_t g = 0; g < count; ++g) {
        const std::size_t n = groups_.length(g);
        LengthPlan& p = plans_[g];
        if (!qualifies(n, n, kAnyShared, threshold_)) continue;
        std::size_t low = g, high = g;
        while (low > 0 && qualifies(n, groups_.length(low - 1), kAnyShared, threshold_)) --low;
        while (high + 1 < count && qualifies(n, groups_.length(high + 1), kAnyShared, threshold_)) ++high;
        p.low = groups_.length(low);
        p.high = groups_.length(high);
        if (n < 3) {
            // Short rows pair by the lengths alone; never with rows that have trigrams.
            indexed_ = indexed_ && p.high < 3;
            continue;
        }
        if (p.low < 3) {
            indexed_ = false;
            continue;
        }
        p.min_shared = kAnyShared;
        for (std::size_t h = low; h <= high; ++h) {
            const std::size_t m = groups_.length(h);
            std::size_t lo = 0, hi = std::min(n, m) - 2;  // qualifies at hi, by the window
            while (lo < hi) {
                const std::size_t mid = lo + (hi - lo) / 2;
                if (qualifies(n, m, mid, threshold_)) hi = mid; else lo = mid + 1;
            }
            p.min_shared = std::min(p.min_shared, lo);
        }
        indexed_ = indexed_ && p.min_shared >= 1;
    }
}

void SelfJoin::build_trigram_index() {
    struct Entry {
        std::uint64_t trigram;
        std::uint32_t occurrence;
        std::uint32_t row;
    };
    std::vector<Entry> entries;
    std::u32string decoded;
    for (std::size_t row = 0; row < texts_.size(); ++row) {
        if (texts_.missing(row) || texts_.length(row) < 3) continue;
        text::decode_utf8(texts_.key(row), decoded);
        std::vector<std::uint64_t> trigrams = measures::trigrams(decoded);
        std::sort(trigrams.begin(), trigrams.end());
        for (std::size_t i = 0; i < trigrams.size(); ++i) {
            const std::uint32_t occurrence =
                i > 0 && trigrams[i] == trigrams[i - 1] ? entries.back().occurrence + 1 : 0;
            entries.push_back({trigrams[i], occurrence, static_cast<std::uint32_t>(row)});
        }
    }
    auto same_element = [](const Entry& x, const Entry& y) {
        return x.trigram == y.trigram && x.occurrence == y.occurrence;
    };
    std::sort(entries.begin(), entries.end(), [](const Entry& x, const Entry& y) {
        return x.trigram != y.trigram ? x.trigram < y.trigram
                                      : x.occurrence != y.occurrence ? x.occurrence < y.occurrence : x.row < y.row;
    });

    // Ranks: rarest elements first, so that prefixes hold the most selective ones.
    struct Element {
        std::size_t begin, end;  // its run in entries
    };
    std::vector<Element> elements;
    for (std::size_t i = 0; i < entries.size();) {
        std::size_t j = i + 1;
        while (j < entries.size() && same_element(entries[i], entries[j])) ++j;
        elements.push_back({i, j});
        i = j;
    }
    std::stable_sort(elements.begin(), elements.end(),
                     [](const Element& x, const Element& y) { return x.end - x.begin < y.end - y.begin; });

    element_begins_.assign(texts_.size() + 1, 0);
    for (const Entry& e : entries) ++element_begins_[e.row + 1];
    std::partial_sum(element_begins_.begin(), element_begins_.end(), element_begins_.begin());
    elements_.resize(entries.size());
    std::vector<std::size_t> fill(element_begins_.begin(), element_begins_.end() - 1);
    for (std::size_t rank = 0; rank < elements.size(); ++rank)
        for (std::size_t i = elements[rank].begin; i < elements[rank].end; ++i)
            elements_[fill[entries[i].row]++] = static_cast<std::uint32_t>(rank);
    // Ranks were handed out in increasing order, so each row's list is sorted already.

    // Two rows sharing at least c elements share one within their first (size - c + 1).
    auto prefix_size = [&](std::size_t row) -> std::size_t {
        const std::size_t size = element_begins_[row + 1] - element_begins_[row];
        if (size == 0) return 0;
        const LengthPlan& p = plan(texts_.length(row));
        if (p.low > p.high) return 0;
        return size - p.min_shared + 1;
    };
    posting_begins_.assign(elements.size() + 1, 0);
    for (std::size_t row = 0; row < texts_.size(); ++row)
        for (std::size_t i = 0; i < prefix_size(row); ++i) ++posting_begins_[elements_[element_begins_[row] + i] + 1];
    std::partial_sum(posting_begins_.begin(), posting_begins_.end(), posting_begins_.begin());
    postings_.resize(posting_begins_.back());
    fill.assign(posting_begins_.begin(), posting_begins_.end() - 1);
    for (std::size_t row = 0; row < texts_.size(); ++row)
        for (std::size_t i = 0; i < prefix_size(row); ++i)
            postings_[fill[elements_[element_begins_[row] + i]]++] = static_cast<std::uint32_t>(row);
}

std::size_t SelfJoin::probe(std::size_t row, std::vector<Pair>& out) const {
    if (plans_.empty() || texts_.missing(row)) return 0;
    const LengthPlan& p = plan(texts_.length(row));
    if (p.low > p.high) return 0;
    return indexed_ && texts_.length(row) >= 3 ? probe_trigrams(row, out) : probe_lengths(row, out);
}

std::size_t SelfJoin::probe_lengths(std::size_t row, std::vector<Pair>& out) const {
    const LengthPlan& p = plan(texts_.length(row));
    Verifier verifier(texts_, row, threshold_);
    const std::size_t first_out = out.size();
    for (std::size_t g = groups_.first_at_least(p.low); g < groups_.count() && groups_.length(g) <= p.high; ++g) {
        const auto members = groups_.members(g);
        for (auto it = std::upper_bound(members.begin(), members.end(), row); it != members.end(); ++it)
            verifier.check(*it, kAnyShared, out);
    }
    std::sort(out.begin() + static_cast<std::ptrdiff_t>(first_out), out.end(),
              [](const Pair& x, const Pair& y) { return x.second < y.second; });
    return verifier.scored();
}

std::size_t SelfJoin::probe_trigrams(std::size_t row, std::vector<Pair>& out) const {
    const std::size_t n = texts_.length(row);
    const LengthPlan& p = plan(n);
    const std::uint32_t* const mine = elements_.data() + element_begins_[row];
    const std::uint32_t* const mine_end = elements_.data() + element_begins_[row + 1];
    const std::size_t prefix = static_cast<std::size_t>(mine_end - mine) - p.min_shared + 1;
    std::vector<std::uint32_t> partners;
    for (std::size_t i = 0; i < prefix; ++i) {
        const std::uint32_t* begin = postings_.data() + posting_begins_[mine[i]];
        const std::uint32_t* end = postings_.data() + posting_begins_[mine[i] + 1];
        for (const std::uint32_t* it = std::upper_bound(begin, end, static_cast<std::uint32_t>(row)); it != end; ++it)
            if (allowed(p, texts_.length(*it))) partners.push_back(*it);
    }
    std::sort(partners.begin(), partners.end());
    partners.erase(std::unique(partners.begin(), partners.end()), partners.end());
    Verifier verifier(texts_, row, threshold_);
    for (const std::uint32_t partner : partners) {
        const std::size_t shared = overlap(mine, mine_end, elements_.data() + element_begins_[partner],
                                           elements_.data() + element_begins_[partner + 1]);
        if (!qualifies(n, texts_.length(partner), shared, threshold_)) continue;
        verifier.check(partner, shared, out);
    }
    return verifier.scored();
}

std::vector<Pair> concatenate(std::vector<std::vector<Pair>>& per_row) {
    std::size_t total = 0;
    for (const auto& pairs : per_row) total += pairs.size();
    std::vector<Pair> all;
    all.reserve(total);
    for (auto& pairs : per_row) {
        all.insert(all.end(), pairs.begin(), pairs.end());
        std::vector<Pair>().swap(pairs);
    }
    return all;
}

std::vector<std::size_t> connected_labels(std::size_t rows, const std::vector<Pair>& pairs) {
    std::vector<std::size_t> parent(rows);
    std::iota(parent.begin(), parent.end(), std::size_t{0});
    auto root = [&](std::size_t x) {
        while (parent[x] != x) x = parent[x] = parent[parent[x]];
        return x;
    };
    // The smaller root always stays a root, so every root is its component's smallest row.
    for (const Pair& pair : pairs) {
        const std::size_t a = root(pair.first), b = root(pair.second);
        if (a < b) parent[b] = a; else if (b < a) parent[a] = b;
    }
    for (std::size_t i = 0; i < rows; ++i) parent[i] = root(i);
    return parent;
}

}  // namespace pelgar::join
