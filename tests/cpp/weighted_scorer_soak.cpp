// WeightedScorer against the plain measures combined in their fixed order, pair by pair and
// bit for bit. One scorer is reused over candidates of every length, so its per-length
// state is exercised; lengths run past 16 and 64 characters, where the scoring changes
// strategy, and queries with repeated trigrams take the other way of counting them.
// The short candidates also go through the grouped pass of every instruction set this
// processor runs, in groups of every fill, each group reused across many candidates.
// Usage: weighted_scorer_soak [queries] [seed]; exits non-zero on the first difference.
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "measures/lanes/candidate_group.hpp"
#include "measures/weighted_score.hpp"
#include "reference_measures.hpp"

namespace {

using namespace pelgar;

void print(const char* what, std::u32string_view text) {
    std::printf("%s:", what);
    for (char32_t c : text) std::printf(" %X", static_cast<unsigned>(c));
    std::printf("\n");
}

bool same_bits(double got, double want, std::u32string_view a, std::u32string_view b, const char* how) {
    if (std::bit_cast<std::uint64_t>(got) == std::bit_cast<std::uint64_t>(want)) return true;
    print("query", a);
    print("candidate", b);
    std::printf("FAIL %s: got %.17g, want %.17g\n", how, got, want);
    return false;
}

struct Generator {
    std::mt19937_64 rng;
    std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(rng); }

    std::u32string word(std::u32string_view alphabet, std::size_t length) {
        std::u32string w(length, U'a');
        for (char32_t& c : w) c = alphabet[below(alphabet.size())];
        return w;
    }

    // Lengths cluster around the boundaries of the shared path.
    std::size_t length() {
        static constexpr std::size_t edges[] = {0, 1, 2, 3, 4, 12, 15, 16, 17, 31, 32, 33, 63, 64, 65, 70};
        return below(3) == 0 ? edges[below(std::size(edges))] : below(20);
    }

    std::u32string variant(std::u32string w, std::u32string_view alphabet) {
        for (std::size_t e = below(4); e > 0; --e) {
            const std::size_t kind = below(4);
            if (kind == 0 || w.empty()) {
                w.insert(w.begin() + static_cast<std::ptrdiff_t>(below(w.size() + 1)), alphabet[below(alphabet.size())]);
            } else if (kind == 1) {
                w.erase(w.begin() + static_cast<std::ptrdiff_t>(below(w.size())));
            } else if (kind == 2) {
                w[below(w.size())] = alphabet[below(alphabet.size())];
            } else if (w.size() > 1) {
                const std::size_t i = below(w.size() - 1);
                std::swap(w[i], w[i + 1]);
            }
        }
        return w;
    }
};

}  // namespace

int main(int argc, char** argv) {
    const long queries = argc > 1 ? std::atol(argv[1]) : 20000;
    const unsigned long seed = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1;
    // Tiny alphabets repeat trigrams; the others mix Latin-1, wider and astral characters.
    const std::u32string alphabets[] = {U"ab", U"abc", U"abcdefghijklmnopqrstuvwxyz ", U"ab \u00e9\u00df\u00ff",
                                        U"\u65e5\u672c\u8a9ea", U"a\U0001F600b\u00ff\u0100\u0153"};
    Generator gen{std::mt19937_64(seed)};
    const std::vector<measures::lanes::NamedLaneKernel> kernels = measures::lanes::runnable_lane_kernels();
    for (const auto& kernel : kernels) std::printf("grouped pass: %s\n", kernel.name);
    long pairs = 0;
    for (long round = 0; round < queries; ++round) {
        const std::u32string& alphabet = alphabets[gen.below(std::size(alphabets))];
        const std::u32string query = gen.word(alphabet, gen.length());
        measures::WeightedScorer scorer(query);
        std::vector<std::u32string> shorts;
        std::vector<double> wanted;
        for (std::size_t c = gen.below(16); c > 0; --c) {
            const std::u32string candidate =
                gen.below(2) == 0 ? gen.variant(query, alphabet) : gen.word(alphabet, gen.length());
            const double want = reference::reference_weighted(query, candidate);
            if (!same_bits(scorer.score(candidate), want, query, candidate, "reused scorer")) return 1;
            if (!same_bits(measures::weighted_score(std::u32string_view(query), std::u32string_view(candidate)), want,
                           query, candidate, "weighted_score"))
                return 1;
            if (!candidate.empty() && candidate.size() <= measures::ShortQuery::kMaxLength) {
                shorts.push_back(candidate);
                wanted.push_back(want);
            }
            ++pairs;
        }
        const measures::ShortQuery* short_query = scorer.short_query();
        if (!short_query) continue;
        for (const auto& kernel : kernels) {
            measures::CandidateGroup group(*short_query, kernel.kernel);
            // Groups of every size, flushed early at random.
            for (std::size_t from = 0; from < shorts.size();) {
                const std::size_t count = std::min(shorts.size() - from, 1 + gen.below(measures::CandidateGroup::kLanes));
                for (std::size_t i = 0; i < count; ++i) group.add(shorts[from + i]);
                double scores[measures::CandidateGroup::kLanes];
                group.score_into(scores);
                for (std::size_t i = 0; i < count; ++i)
                    if (!same_bits(scores[i], wanted[from + i], query, shorts[from + i], kernel.name)) return 1;
                from += count;
            }
        }
    }
    std::printf("weighted_scorer_soak: %ld pairs agree\n", pairs);
    return 0;
}
