// The join core against plain loops: the bounds it prunes with stay above every score
// (exhaustively over short strings of a small alphabet), never grow as lengths move apart,
// and top-k and the self-join equal brute force on random lists.
// Usage: join_test [lists] [seed]; exits non-zero on the first difference.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "join/candidate_index.hpp"
#include "join/self_join.hpp"
#include "matching/score_bound.hpp"
#include "measures/levenshtein.hpp"
#include "measures/trigram.hpp"
#include "measures/weighted_score.hpp"
#include "text/utf8.hpp"

namespace {

using namespace pelgar;
using matching::ScoreBound;

int failures = 0;

void fail(const char* what, std::u32string_view a, std::u32string_view b) {
    if (++failures > 10) std::exit(1);
    std::printf("FAIL %s: '%s' '%s'\n", what, text::encode_utf8(a).c_str(), text::encode_utf8(b).c_str());
}

std::size_t shared_trigrams(std::u32string_view a, std::u32string_view b) {
    std::map<std::uint64_t, int> counts;
    for (auto t : measures::trigrams(a)) ++counts[t];
    std::size_t common = 0;
    for (auto t : measures::trigrams(b))
        if (counts[t]-- > 0) ++common;
    return common;
}

void all_strings(std::u32string prefix, std::size_t max_length, std::vector<std::u32string>& out) {
    out.push_back(prefix);
    if (prefix.size() == max_length) return;
    for (char32_t c : std::u32string(U"abc")) all_strings(prefix + c, max_length, out);
}

void check_bounds_exhaustively() {
    std::vector<std::u32string> strings;
    all_strings(U"", 7, strings);
    for (const auto& a : strings) {
        ScoreBound bound(a);
        measures::WeightedScorer scorer(a);
        for (const auto& b : strings) {
            const double score = scorer.score(b);
            const std::size_t shared = shared_trigrams(a, b);
            if (score > ScoreBound::length_bound(a.size(), b.size(), shared)) fail("length bound", a, b);
            if (score > bound.upper_bound(b, shared)) fail("bound with shared trigrams", a, b);
            if (score > bound.upper_bound(b)) fail("bound", a, b);
            const std::size_t longer = std::max(a.size(), b.size());
            const std::size_t distance = measures::edit_distance(a, b);
            if (longer >= 3 && shared + 2 + 3 * distance < longer) fail("trigrams per edit", a, b);
        }
    }
}

void check_length_bound_monotone() {
    for (std::size_t shared : {std::size_t{0}, std::numeric_limits<std::size_t>::max()}) {
        for (std::size_t n = 0; n < 300; ++n) {
            for (std::size_t m = n; m < 400; ++m)
                if (ScoreBound::length_bound(n, m + 1, shared) > ScoreBound::length_bound(n, m, shared))
                    fail("length bound grows upward", std::u32string(n, U'a'), std::u32string(m, U'a'));
            for (std::size_t m = n; m > 0; --m)
                if (ScoreBound::length_bound(n, m - 1, shared) > ScoreBound::length_bound(n, m, shared))
                    fail("length bound grows downward", std::u32string(n, U'a'), std::u32string(m, U'a'));
        }
    }
}

struct Lists {
    std::mt19937_64 rng;
    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); }

    std::string text() {
        static const std::vector<std::string> words = {"ab", "abc", "abd", "bca", "a", "ba", "cab", "abcabc"};
        switch (below(6)) {
            case 0: return "";
            case 1: return std::string(1 + below(2), "abc"[below(3)]);
            default: {
                std::string t;
                for (std::size_t w = below(4); w-- > 0;) t += (t.empty() ? "" : " ") + words[below(words.size())];
                return t;
            }
        }
    }

    join::PreparedTexts list(std::size_t size) {
        join::PreparedTexts texts;
        for (std::size_t i = 0; i < size; ++i) {
            if (below(12) == 0) texts.add_missing(); else texts.add_key(text());
        }
        return texts;
    }
};

double score_of(const join::PreparedTexts& texts, std::size_t i, std::size_t j) {
    return measures::weighted_score(texts.key(i), texts.key(j));
}

void check_searches(std::size_t lists, unsigned seed) {
    Lists gen{std::mt19937_64(seed)};
    const double thresholds[] = {0.0, 0.5, 0.75, 0.76, 0.8, 0.85, 0.9, 0.95, 1.0};
    for (std::size_t round = 0; round < lists; ++round) {
        const join::PreparedTexts texts = gen.list(gen.below(40));
        const double threshold = thresholds[gen.below(std::size(thresholds))];
        // Self-join against all pairs.
        const join::SelfJoin self_join(texts, threshold);
        for (std::size_t i = 0; i < texts.size(); ++i) {
            std::vector<join::Pair> got;
            self_join.probe(i, got);
            std::vector<join::Pair> expected;
            for (std::size_t j = i + 1; j < texts.size() && !texts.missing(i); ++j) {
                if (texts.missing(j)) continue;
                const double s = score_of(texts, i, j);
                if (s >= threshold) expected.push_back({std::uint32_t(i), std::uint32_t(j), s});
            }
            const bool same = got.size() == expected.size() &&
                              std::equal(got.begin(), got.end(), expected.begin(), [](auto& x, auto& y) {
                                  return x.first == y.first && x.second == y.second && x.score == y.score;
                              });
            if (!same) fail("self-join probe", text::decode_utf8(texts.key(i)), U"");
        }
        // Top-k of every text as a query against all candidates.
        const join::CandidateIndex index(join::Scorer::combined, texts);
        const std::size_t k = 1 + gen.below(4);
        for (std::size_t q = 0; q < texts.size(); ++q) {
            if (texts.missing(q)) continue;
            std::vector<matching::Match> expected;
            for (std::size_t c = 0; c < texts.size(); ++c) {
                if (texts.missing(c)) continue;
                const double s = score_of(texts, q, c);
                if (s >= threshold) expected.push_back({c, s});
            }
            std::stable_sort(expected.begin(), expected.end(), [](auto& x, auto& y) { return x.score > y.score; });
            if (expected.size() > k) expected.resize(k);
            const auto got = index.top_k(text::decode_utf8(texts.key(q)), k, threshold);
            const bool same = got.size() == expected.size() &&
                              std::equal(got.begin(), got.end(), expected.begin(), [](auto& x, auto& y) {
                                  return x.index == y.index && x.score == y.score;
                              });
            if (!same) fail("top-k", text::decode_utf8(texts.key(q)), U"");
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t lists = argc > 1 ? std::strtoul(argv[1], nullptr, 10) : 2000;
    const unsigned seed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10)) : 1;
    check_bounds_exhaustively();
    check_length_bound_monotone();
    check_searches(lists, seed);
    if (failures > 0) return 1;
    std::printf("join core agrees\n");
    return 0;
}
