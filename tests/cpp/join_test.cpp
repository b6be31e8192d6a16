// The join core against plain loops: the bounds it prunes with stay above every score
// (exhaustively over short strings of a small alphabet), never grow as lengths move apart,
// the self-join equals brute force over every short string of a small alphabet, and top-k
// and the self-join equal it on random lists.
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
#include "join/key_clusters.hpp"
#include "join/self_join.hpp"
#include "matching/score_bound.hpp"
#include "measures/grouped_scorer.hpp"
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

void all_strings(std::u32string prefix, std::u32string_view alphabet, std::size_t max_length,
                 std::vector<std::u32string>& out) {
    out.push_back(prefix);
    if (prefix.size() == max_length) return;
    for (char32_t c : alphabet) all_strings(prefix + c, alphabet, max_length, out);
}

// Rows with equal keys are joined without a score: every path of the scorers gives an
// equal pair exactly 1.0 (short keys grouped in lanes and alone, long keys, any characters).
void check_equal_keys_score_one(std::mt19937_64& rng) {
    std::vector<std::u32string> keys;
    all_strings(U"", U"ab ", 6, keys);
    const std::u32string alphabet = U"ab \u00e9\u00f8\u0142\u4e2d\U0001F600";
    for (std::size_t length : {1, 2, 3, 31, 32, 33, 63, 64, 65, 100, 127, 128, 129, 300, 1000}) {
        for (int round = 0; round < 8; ++round) {
            std::u32string key;
            for (std::size_t i = 0; i < length; ++i) key += alphabet[rng() % (round < 4 ? 3 : alphabet.size())];
            keys.push_back(key);
        }
    }
    for (const auto& key : keys) {
        measures::WeightedScorer alone(key);
        measures::GroupedScorer grouped(key);
        std::size_t delivered = 0;
        auto expect_one = [&](std::size_t, double score) {
            ++delivered;
            if (score != 1.0) fail("equal keys in a group", key, key);
        };
        for (int copy = 0; copy < 5; ++copy) grouped.offer(0, key, expect_one);
        grouped.flush(expect_one);
        if (delivered != 5 || alone.score(key) != 1.0 || measures::weighted_score(key, key) != 1.0)
            fail("equal keys", key, key);
    }
}

void check_bounds_exhaustively(std::u32string_view alphabet, std::size_t max_length) {
    std::vector<std::u32string> strings;
    all_strings(U"", alphabet, max_length, strings);
    for (const auto& a : strings) {
        ScoreBound bound(a);
        measures::WeightedScorer scorer(a);
        for (const auto& b : strings) {
            const double score = scorer.score(b);
            const std::size_t shared = shared_trigrams(a, b);
            if (score > ScoreBound::length_bound(a.size(), b.size(), shared)) fail("length bound", a, b);
            if (score > bound.upper_bound(b, shared)) fail("bound with shared trigrams", a, b);
            if (score > bound.upper_bound(b)) fail("bound", a, b);
            // The table of fewest shared trigrams admits every pair at its own score.
            const std::size_t need = ScoreBound::min_shared_trigrams(a.size(), b.size(), score);
            if (need == ScoreBound::kUnreachable || (a.size() >= 3 && b.size() >= 3 && shared < need))
                fail("fewest shared trigrams", a, b);
            const std::size_t longer = std::max(a.size(), b.size());
            const std::size_t distance = measures::edit_distance(a, b);
            if (longer >= 3 && shared + 2 + 3 * distance < longer) fail("trigrams per edit", a, b);
        }
    }
}

void check_length_bound_monotone() {
    for (std::size_t shared : {ScoreBound::kUnknownShared}) {
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

// The partners each probe finds, by key.
struct Collect final : join::PairSink {
    explicit Collect(std::size_t keys) : partners(keys) {}
    void found(std::uint32_t key, std::uint32_t partner, double score) override {
        partners[key].emplace_back(partner, score);
    }
    std::vector<std::vector<std::pair<std::uint32_t, double>>> partners;
};

double score_of(const join::PreparedTexts& texts, std::size_t i, std::size_t j) {
    return measures::weighted_score(texts.key(i), texts.key(j));
}

// The self-join (and the clusters its pairs make) of texts against all pairs.
void check_self_join(const join::PreparedTexts& texts, double threshold) {
    const join::SelfJoin self_join(texts, threshold);
    const join::KeyGroups& keys = self_join.keys();
    Collect collect(keys.count());
    join::KeyClusters clusters(keys);
    for (std::uint32_t key = 0; key < keys.count(); ++key) {
        self_join.probe(key, collect);
        self_join.probe(key, clusters);
    }
    const std::vector<join::Pair> got = join::row_pairs(keys, threshold, collect.partners);
    std::vector<join::Pair> expected;
    std::vector<std::size_t> labels(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) labels[i] = i;
    for (std::size_t i = 0; i < texts.size(); ++i) {
        for (std::size_t j = i + 1; j < texts.size() && !texts.missing(i); ++j) {
            if (texts.missing(j)) continue;
            const double s = score_of(texts, i, j);
            if (s >= threshold) expected.push_back({std::uint32_t(i), std::uint32_t(j), s});
        }
    }
    for (bool changed = true; changed;) {
        changed = false;
        for (const join::Pair& p : expected) {
            const std::size_t low = std::min(labels[p.first], labels[p.second]);
            changed = changed || labels[p.first] != low || labels[p.second] != low;
            labels[p.first] = labels[p.second] = low;
        }
    }
    const bool same = got.size() == expected.size() &&
                      std::equal(got.begin(), got.end(), expected.begin(), [](auto& x, auto& y) {
                          return x.first == y.first && x.second == y.second && x.score == y.score;
                      });
    if (!same) fail("self-join", U"", U"");
    if (clusters.row_labels(1.0 >= threshold) != labels) fail("clusters", U"", U"");
}

// Every string of a small alphabet up to a length, joined at thresholds where the prefixes
// each key lists are short: a prefix one element too short loses some pair.
void check_self_join_exhaustively(std::u32string_view alphabet, std::size_t max_length) {
    std::vector<std::u32string> strings;
    all_strings(U"", alphabet, max_length, strings);
    join::PreparedTexts texts;
    for (const auto& s : strings) texts.add_key(text::encode_utf8(s));
    for (const double threshold : {0.7, 0.8, 0.9}) check_self_join(texts, threshold);
}

void check_searches(std::size_t lists, unsigned seed) {
    Lists gen{std::mt19937_64(seed)};
    const double thresholds[] = {0.0, 0.5, 0.75, 0.76, 0.8, 0.85, 0.9, 0.95, 1.0};
    for (std::size_t round = 0; round < lists; ++round) {
        const join::PreparedTexts texts = gen.list(gen.below(40));
        const double threshold = thresholds[gen.below(std::size(thresholds))];
        check_self_join(texts, threshold);
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
    check_bounds_exhaustively(U"abc", 7);
    check_bounds_exhaustively(U"ab", 10);
    std::mt19937_64 rng(seed);
    check_equal_keys_score_one(rng);
    check_length_bound_monotone();
    check_self_join_exhaustively(U"abc", 6);
    check_self_join_exhaustively(U"ab", 9);
    check_searches(lists, seed);
    if (failures > 0) return 1;
    std::printf("join core agrees\n");
    return 0;
}
