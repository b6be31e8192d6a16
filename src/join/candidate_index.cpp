#include "join/candidate_index.hpp"

#include <algorithm>
#include <cmath>
#include <optional>
#include <string>

#include "join/best_rows.hpp"
#include "join/candidate_search.hpp"
#include "join/own_key.hpp"
#include "measures/weighted_score.hpp"
#include "text/utf8.hpp"

namespace pelgar::join {

CandidateIndex::CandidateIndex(Scorer scorer, const PreparedTexts& texts)
    : scorer_(scorer), keys_(texts), postings_(keys_) {}

std::size_t CandidateIndex::memory_bytes() const noexcept {
    return sizeof(*this) + keys_.memory_bytes() + postings_.memory_bytes();
}

namespace {

// A query's best list over key groups: each key's score goes to its rows.
class TopK {
public:
    TopK(const KeyGroups& keys, std::size_t k, double threshold) : keys_(keys), best_(k, threshold) {}

    static constexpr bool kScoresAlone = false;
    std::uint32_t first_key() const { return 0; }
    double cutoff() const { return best_.cutoff(); }
    void prefetch(std::uint32_t) const {}
    bool admits(std::uint32_t key) const { return key != seeded_; }

    // The query's own key, scored before the search: the search's scores come in groups, and
    // this one at once raises the cutoff the search runs at.
    void seed(std::uint32_t key, std::u32string_view query, std::u32string& text) {
        if (key == KeyGroups::kNoKey) return;
        seeded_ = key;
        text::decode_utf8(keys_.key(key), text);
        take(key, measures::weighted_score(query, text));
    }
    bool score_query_first(std::uint32_t, std::u32string_view) const { return true; }

    // A key's rows, lowest first, while they can enter the list.
    void take(std::uint32_t key, double score) {
        for (const std::uint32_t row : keys_.rows(key))
            if (!best_.offer({row, score})) return;
    }

    std::vector<matching::Match> sorted() && { return std::move(best_).sorted(); }

private:
    const KeyGroups& keys_;
    BestRows best_;
    std::uint32_t seeded_ = KeyGroups::kNoKey;
};

}  // namespace

std::vector<matching::Match> CandidateIndex::top_k(std::u32string_view query, std::size_t k, double threshold,
                                                   std::size_t* scored) const {
    if (k == 0 || std::isnan(threshold) || keys_.count() == 0) return {};
    TopK best(keys_, k, threshold);
    SearchScratch& scratch = SearchScratch::of_this_thread();
    const std::uint32_t own = own_key(keys_, postings_, query, scratch.elements);
    best.seed(own, query, scratch.candidate);
    const std::size_t count = CandidateSearch<TopK>(keys_, postings_, query, scratch, best, true).run();
    if (scored) *scored += count + (own != KeyGroups::kNoKey);
    return std::move(best).sorted();
}

}  // namespace pelgar::join
