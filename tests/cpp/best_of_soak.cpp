// The pruned best-of search against a plain loop over the plain measures: random candidate
// lists full of near-ties, duplicates and equal scores must give the same index and bits.
// Also checks directly that the score bounds never fall below the score, and runs the batch
// search (candidates ordered by length, bucket counts, the worker pool) over the same lists.
// Usage: best_of_soak [lists] [seed]; exits non-zero on the first difference.
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "matching/batch_best_match.hpp"
#include "matching/best_of.hpp"
#include "reference_measures.hpp"
#include "text/normalize.hpp"
#include "text/utf8.hpp"

namespace {

using namespace pelgar;

using Expected = std::optional<matching::Match>;

void print(const char* what, std::u32string_view text) {
    std::printf("%s:", what);
    for (char32_t c : text) std::printf(" %X", static_cast<unsigned>(c));
    std::printf("\n");
}

bool same_match(const Expected& got, const Expected& expected, std::u32string_view query,
                const std::vector<std::u32string>& candidates, const char* how) {
    if (got.has_value() == expected.has_value() &&
        (!got || (got->index == expected->index &&
                  std::bit_cast<std::uint64_t>(got->score) == std::bit_cast<std::uint64_t>(expected->score))))
        return true;
    print("query", query);
    for (const auto& c : candidates) print("candidate", c);
    std::printf("FAIL %s: best index %zu score %.17g, want index %zu score %.17g\n", how, got ? got->index : 0,
                got ? got->score : 0.0, expected ? expected->index : 0, expected ? expected->score : 0.0);
    return false;
}

// The last of the top scores of the plain measures, over texts normalised as the batch does.
Expected plain_best(const std::u32string& query, const std::vector<std::u32string>& candidates) {
    auto normal = [](const std::u32string& text) { return text::decode_utf8(text::normalize(text::encode_utf8(text))); };
    const std::u32string q = normal(query);
    Expected best;
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const double score = reference::reference_weighted(q, normal(candidates[i]));
        if (!best || score >= best->score) best = matching::Match{i, score};
    }
    return best;
}

struct Generator {
    std::mt19937_64 rng;
    std::u32string alphabet;

    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); }

    std::u32string word(std::size_t max_length) {
        std::u32string w(below(max_length + 1), U'a');
        for (char32_t& c : w) c = alphabet[below(alphabet.size())];
        return w;
    }

    // A few edits away: swaps, substitutions, insertions, deletions, or a permutation.
    std::u32string variant(std::u32string w) {
        const std::size_t edits = below(4);
        for (std::size_t e = 0; e < edits; ++e) {
            const std::size_t kind = below(5);
            if (kind == 0 || w.empty()) {
                w.insert(w.begin() + static_cast<std::ptrdiff_t>(below(w.size() + 1)), alphabet[below(alphabet.size())]);
            } else if (kind == 1) {
                w.erase(w.begin() + static_cast<std::ptrdiff_t>(below(w.size())));
            } else if (kind == 2) {
                w[below(w.size())] = alphabet[below(alphabet.size())];
            } else if (kind == 3 && w.size() > 1) {
                const std::size_t i = below(w.size() - 1);
                std::swap(w[i], w[i + 1]);
            } else {
                std::shuffle(w.begin(), w.end(), rng);
            }
        }
        return w;
    }
};

}  // namespace

int main(int argc, char** argv) {
    const long lists = argc > 1 ? std::atol(argv[1]) : 200000;
    const unsigned long seed = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1;
    const std::u32string alphabets[] = {U"ab", U"abc", U"abcdefghij", U"ab \u00e9\u00df", U"\u65e5\u672c\u8a9ea",
                                        U"a\U0001F600b\u00ff\u0100"};
    Generator gen{std::mt19937_64(seed), U""};
    long scored_lists = 0, skipped = 0, offered = 0;
    for (long round = 0; round < lists; ++round) {
        gen.alphabet = alphabets[gen.below(std::size(alphabets))];
        const std::size_t max_length = gen.below(4) == 0 ? 40 : 10;
        const std::u32string query = gen.word(max_length);
        std::vector<std::u32string> candidates(gen.below(12));
        for (auto& c : candidates) {
            const std::size_t kind = gen.below(4);
            c = kind == 0 ? query : kind == 1 ? gen.word(max_length) : gen.variant(query);
        }
        // Now and then one past the bucket counts' reach, or a few blocks of near-duplicates
        // of the query's length, which the batch scores a block at a time where they lie.
        if (gen.below(64) == 0) candidates.push_back(gen.word(320));
        if (gen.below(32) == 0 && !query.empty())
            for (std::size_t k = 64 + gen.below(200); k > 0; --k) {
                std::u32string near = query;
                near[gen.below(near.size())] = gen.alphabet[gen.below(gen.alphabet.size())];
                candidates.push_back(near);
            }
        // Exact duplicates of earlier candidates make ties on the top score common.
        if (!candidates.empty() && gen.below(2) == 0) candidates.push_back(candidates[gen.below(candidates.size())]);

        matching::BestOf search(query);
        matching::ScoreBound bound(query);
        std::optional<matching::Match> expected;
        for (std::size_t i = 0; i < candidates.size(); ++i) {
            const double score = reference::reference_weighted(query, candidates[i]);
            const matching::CharBuckets buckets(candidates[i]);
            if (!(bound.upper_bound(candidates[i]) >= score) || !(bound.upper_bound(candidates[i], buckets) >= score) ||
                !(bound.length_ceiling(candidates[i].size()) >= score)) {
                print("query", query);
                print("candidate", candidates[i]);
                std::printf("FAIL bound below score %.17g\n", score);
                return 1;
            }
            if (!expected || score >= expected->score) expected = matching::Match{i, score};
            search.offer(i, candidates[i]);
        }
        if (!same_match(search.best(), expected, query, candidates, "best-of search")) return 1;

        matching::CodePointTexts queries;
        queries.push_back(query);
        queries.push_back(gen.variant(query));
        matching::PreparedCandidates texts;
        for (const auto& c : candidates) texts.add(c);
        const auto answers = matching::batch_find_best(queries, texts);
        for (std::size_t q = 0; q < 2; ++q)
            if (!same_match(answers[q], plain_best(std::u32string(queries[q]), candidates), queries[q], candidates,
                            "batch"))
                return 1;
        scored_lists += !candidates.empty();
        skipped += search.skipped();
        offered += candidates.size();
    }
    std::printf("best_of_soak: %ld lists (%ld non-empty) agree; %ld of %ld candidates skipped\n", lists,
                scored_lists, skipped, offered);
    if (lists >= 1000 && skipped == 0) {
        std::printf("FAIL nothing was skipped: the soak does not exercise the bounds\n");
        return 1;
    }
    return 0;
}
