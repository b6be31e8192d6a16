#pragma once

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>

#include "common/stop.hpp"
#include "join/key_groups.hpp"
#include "join/search_scratch.hpp"
#include "join/trigram_postings.hpp"
#include "matching/score_bound.hpp"
#include "measures/grouped_scorer.hpp"
#include "measures/kernel_support.hpp"
#include "text/utf8.hpp"

namespace pelgar::join {

// The keys of one field that can still reach a cutoff against one query, each scored once
// with the query first. The policy says what the cutoff is now (it may rise as scores come
// in, never fall), which keys it wants at all (asked before a key's text is read) and takes
// the scores (short keys are scored in groups, so a score may come late).
//
// Keys come from the posting lists of the query's trigram elements, rarest first: once
// `remaining` elements are left, a key not yet met shares at most that many, and when no
// length can reach the cutoff with so few the lists stop (the prefix filter, with a prefix
// that shortens as the cutoff rises); within a list only the lengths that can are read.
// Postings that list only each key's prefix, as long as the cutoff needs, keep this exact:
// two sets of elements sharing t share one within the rarest e - t + 1 of each. A key
// first met at the query's i-th element and at its own p-th shares at most 1 + min(left in
// the query, left in the key) (the positional filter), and no more than the signatures of
// either side allow. Each survivor is checked against the bound from its characters before
// it is scored. Keys that share no element come last, by length outward from the query's,
// while the cutoff lets such keys through.
//
// Policy: std::uint32_t first_key() const (keys below it are not wanted); double cutoff()
// const; void prefetch(std::uint32_t key) const (asks for what admits will read); bool
// admits(std::uint32_t key); bool score_query_first(std::uint32_t key, std::u32string_view
// text) (asked of a key within the bound: false when the query-first score is not wanted);
// void take(std::uint32_t key, double score); optionally static constexpr bool kScoresAlone
// (false when every score it takes comes from the groups: keys that the groups score in
// vectors of 256 bits or more then skip the bound from their characters). The bound holds
// for either order of the two texts.
template <class Policy>
class CandidateSearch {
public:
    // `ranked`: scratch.elements already holds the query's ranked elements in these postings.
    CandidateSearch(const KeyGroups& keys, const TrigramPostings& postings, std::u32string_view query,
                    SearchScratch& scratch, Policy& policy, bool ranked = false)
        : keys_(keys), postings_(postings), query_(query), bound_(query), scratch_(scratch), policy_(policy),
          ranked_(ranked) {}

    // Returns how many keys were scored.
    std::size_t run() {
        scratch_.seen.prepare(keys_.count());
        scratch_.allowed.assign(keys_.length_count(), 0);
        scratch_.need.resize(keys_.length_count());
        try {
            scan_lengths(scan_postings());
            if (scorer_) scorer_->flush([this](std::size_t key, double score) { policy_.take(static_cast<std::uint32_t>(key), score); });
        } catch (...) {
            scratch_.seen.clear();  // a stopped search leaves the set as empty as it found it
            throw;
        }
        scratch_.seen.clear();
        return scored_;
    }

private:
    using ScoreBound = matching::ScoreBound;

    // Whether the policy scores some keys itself, outside the groups (so by default).
    static constexpr bool kScoresAlone = [] {
        if constexpr (requires { Policy::kScoresAlone; }) return Policy::kScoresAlone;
        else return true;
    }();

    measures::GroupedScorer& scorer() {
        if (!scorer_) scorer_.emplace(query_);
        return *scorer_;
    }

    // Marks the length groups whose keys can reach the cutoff sharing at most `shared`
    // elements; false when none can. The fewest shared elements each length needs are
    // worked out again only when the cutoff has risen.
    bool allow_lengths(std::size_t shared) {
        const double c = policy_.cutoff();
        if (!(c == need_cutoff_)) {
            need_cutoff_ = c;
            for (std::size_t g = 0; g < keys_.length_count(); ++g) {
                const std::size_t m = keys_.length_at(g);
                scratch_.need[g] = m >= 3 ? ScoreBound::min_shared_trigrams(query_.size(), m, c) : ScoreBound::kUnreachable;
            }
        }
        bool any = false;
        for (std::size_t g = 0; g < keys_.length_count(); ++g) {
            scratch_.allowed[g] = scratch_.need[g] <= shared;
            any = any || scratch_.allowed[g];
        }
        return any;
    }

    // True when every key that shares an element with the query has been met.
    bool scan_postings() {
        if (query_.size() < 3) return true;
        if (!ranked_) ranked_elements(postings_, query_, scratch_.elements);
        const std::vector<std::uint32_t>& ranks = scratch_.elements.ranks;
        const std::size_t elements = ranks.size();
        for (const std::uint32_t rank : ranks) {
            if (rank == TrigramPostings::kAbsent) continue;
            signature_ |= TrigramPostings::signature_bit(rank);
            ++held_;
        }
        for (std::size_t i = 0; i < elements; ++i) {
            if (!allow_lengths(elements - i)) return false;
            if (ranks[i] != TrigramPostings::kAbsent) scan_list(ranks[i], elements - i - 1);
        }
        return true;
    }

    // The keys of allowed lengths in one posting list; `after` query elements follow it.
    void scan_list(std::uint32_t rank, std::size_t after) {
        const auto& allowed = scratch_.allowed;
        std::size_t g = static_cast<std::size_t>(std::find(allowed.begin(), allowed.end(), 1) - allowed.begin());
        const std::size_t last =
            allowed.size() - static_cast<std::size_t>(std::find(allowed.rbegin(), allowed.rend(), 1) - allowed.rbegin());
        poll_(static_cast<std::int64_t>(postings_.size(rank)));
        auto& pending = scratch_.pending;
        pending.clear();
        postings_.each(rank, std::max(keys_.first_key_of_length(g), policy_.first_key()), keys_.first_key_of_length(last),
                       [&](std::uint32_t key, std::uint8_t place) {
            while (key >= keys_.first_key_of_length(g + 1)) ++g;
            if (!allowed[g] || !scratch_.seen.insert(key)) return;
            const std::size_t m = keys_.length_at(g);
            const std::size_t shared = 1 + std::min(after, m - 3 - std::min<std::size_t>(place, m - 3));
            if (shared < scratch_.need[g]) return;
            postings_.prefetch_signature(key);
            pending.push_back({key, static_cast<std::uint32_t>(m), static_cast<std::uint32_t>(g), shared});
        });
        // Three steps, each reading what the one before asked the processor to fetch, since
        // candidates met in posting lists lie all over the index: the signature, where the
        // text ends, the text.
        std::size_t kept = 0;
        for (const auto& candidate : pending) {
            const std::uint64_t signature = postings_.signature(candidate.key);
            const std::size_t shared = std::min({candidate.shared, candidate.length - 2 - bits(signature & ~signature_),
                                                 held_ - bits(signature_ & ~signature)});
            if (shared < scratch_.need[candidate.group]) continue;
            keys_.prefetch_bounds(candidate.key);
            policy_.prefetch(candidate.key);
            pending[kept++] = {candidate.key, candidate.length, candidate.group, shared};
        }
        pending.resize(kept);
        constexpr std::size_t kAhead = 8;
        for (std::size_t p = 0; p < std::min(kAhead, pending.size()); ++p) keys_.prefetch_text(pending[p].key);
        for (std::size_t p = 0; p < pending.size(); ++p) {
            if (p + kAhead < pending.size()) keys_.prefetch_text(pending[p + kAhead].key);
            consider(pending[p].key, pending[p].length, pending[p].shared);
        }
    }

    static std::size_t bits(std::uint64_t x) { return static_cast<std::size_t>(measures::kernel::count_difference(x, 0)); }

    // The keys not met in the lists, length groups outward from the query's length. Such a
    // key shares no element when every sharing key was met, or when either side has under
    // three characters; otherwise it cannot reach the cutoff (the lists stopped for that).
    void scan_lengths(bool every_sharing_key_met) {
        const std::size_t n = query_.size();
        const std::size_t count = keys_.length_count();
        std::size_t up = keys_.length_group_at_least(n), down = up;  // [0, down) below, [up, count) above
        while (up < count || down > 0) {
            const bool take_up = up < count && (down == 0 || keys_.length_at(up) - n <= n - keys_.length_at(down - 1));
            const std::size_t g = take_up ? up++ : --down;
            const std::size_t m = keys_.length_at(g);
            if (n >= 3 && m >= 3 && !every_sharing_key_met) continue;
            if (ScoreBound::length_bound(n, m, 0) < policy_.cutoff()) continue;
            for (std::uint32_t key = std::max(keys_.first_key_of_length(g), policy_.first_key());
                 key < keys_.first_key_of_length(g + 1); ++key) {
                if (scratch_.seen.contains(key)) continue;
                poll_();
                consider(key, m, 0);
            }
        }
    }

    void consider(std::uint32_t key, std::size_t length, std::size_t shared) {
        poll_(static_cast<std::int64_t>(length) + 1);
        if (!policy_.admits(key)) return;
        const std::string_view text = keys_.key(key);
        // Where the policy takes scores only from the groups, those cost less than the bound.
        const bool bound_first = kScoresAlone || !scorer().cheaper_than_bound(length);
        if (bound_first ? bound_.upper_bound_utf8(text, length, shared) < policy_.cutoff()
                        : ScoreBound::length_bound(query_.size(), length, shared) < policy_.cutoff())
            return;
        text::decode_utf8(text, scratch_.candidate);
        if (!policy_.score_query_first(key, scratch_.candidate)) return;
        ++scored_;
        scorer().offer(key, scratch_.candidate,
                       [this](std::size_t scored_key, double score) { policy_.take(static_cast<std::uint32_t>(scored_key), score); });
    }

    const KeyGroups& keys_;
    const TrigramPostings& postings_;
    std::u32string_view query_;
    matching::ScoreBound bound_;
    SearchScratch& scratch_;
    Policy& policy_;
    bool ranked_;
    std::optional<measures::GroupedScorer> scorer_;
    std::size_t scored_ = 0;
    double need_cutoff_ = std::nan("");  // the cutoff scratch_.need was worked out for
    std::uint64_t signature_ = 0;        // of the query's elements that some key holds
    std::size_t held_ = 0;               // how many of those elements there are
    StopPoll poll_;  // a long search ends early when its run is asked to stop
};

}  // namespace pelgar::join
