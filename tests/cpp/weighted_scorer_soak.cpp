// WeightedScorer against the plain measures combined in their fixed order, pair by pair and
// bit for bit. One scorer is reused over candidates of every length, so its per-length
// state is exercised; lengths run past 16 and 64 characters, where the scoring changes
// strategy, and queries with repeated trigrams take the other way of counting them.
// The short candidates also go through the grouped pass of every instruction set this
// processor runs in every lane width that holds them (lengths cluster at each width's
// edges), in groups of every fill, each group reused across many candidates; and through
// the grouped scorer, as written per query and as written once in codes of their own, one
// by one and in runs of one length scored a whole block at a time where they lie.
// Usage: weighted_scorer_soak [queries] [seed]; exits non-zero on the first difference.
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "measures/grouped_scorer.hpp"
#include "measures/lanes/block_masks.hpp"
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

    // Lengths cluster around the boundaries of the shared path and of the lane widths.
    std::size_t length() {
        static constexpr std::size_t edges[] = {0, 1, 2, 3, 4, 7, 8, 9, 12, 15, 16, 17, 31, 32, 33, 63, 64, 65, 70};
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

// The candidates through one build's kernel of one width, in groups of every fill, written
// as the query's rows; those the width cannot hold are left out. Counts the pairs.
bool grouped_pass_agrees(Generator& gen, const measures::ShortQuery& query, const measures::lanes::LaneKernels& kernels,
                         std::size_t width, const std::vector<std::u32string>& shorts, const std::vector<double>& wanted,
                         std::u32string_view query_text, long& pairs) {
    measures::CandidateGroup group(query.lane_query(), width, kernels.by_width[width]);
    std::vector<std::size_t> members;
    auto score = [&] {
        double scores[measures::CandidateGroup::kMaxLanes];
        group.score_into(scores);
        for (std::size_t i = 0; i < members.size(); ++i)
            if (!same_bits(scores[i], wanted[members[i]], query_text, shorts[members[i]], kernels.name)) return false;
        pairs += static_cast<long>(members.size());
        members.clear();
        return true;
    };
    // Groups flushed early at random.
    std::size_t fill = 1 + gen.below(group.capacity());
    for (std::size_t i = 0; i < shorts.size(); ++i) {
        if (measures::lanes::width_for(query.length(), shorts[i].size()) > width) continue;
        std::uint8_t* codes = group.add(shorts[i].size());
        for (std::size_t k = 0; k < shorts[i].size(); ++k) codes[k] = query.row_of(shorts[i][k]);
        members.push_back(i);
        if (members.size() == fill) {
            if (!score()) return false;
            fill = 1 + gen.below(group.capacity());
        }
    }
    return members.empty() || score();
}

// The grouped scorer over all candidates, given as they are and in codes of their own.
bool grouped_scorer_agrees(const std::u32string& query, const std::vector<std::u32string>& candidates,
                           const std::vector<double>& wanted) {
    measures::lanes::LaneCodes codes;
    for (const auto& c : candidates) codes.count(c);
    codes.assign();
    measures::GroupedScorer plain(query);
    measures::GroupedScorer coded(query, &codes);
    std::vector<double> got_plain(candidates.size(), -1.0), got_coded(candidates.size(), -1.0);
    std::uint8_t written[measures::ShortQuery::kMaxLength];  // one text's own codes
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        plain.offer(i, candidates[i], [&](std::size_t tag, double score) { got_plain[tag] = score; });
        const bool has_codes = measures::ShortQuery::fits(candidates[i].size()) && codes.encode(candidates[i], written);
        coded.offer_coded(i, candidates[i], has_codes ? written : nullptr,
                          [&](std::size_t tag, double score) { got_coded[tag] = score; });
    }
    plain.flush([&](std::size_t tag, double score) { got_plain[tag] = score; });
    coded.flush([&](std::size_t tag, double score) { got_coded[tag] = score; });
    for (std::size_t i = 0; i < candidates.size(); ++i)
        if (!same_bits(got_plain[i], wanted[i], query, candidates[i], "grouped scorer") ||
            !same_bits(got_coded[i], wanted[i], query, candidates[i], "grouped scorer, coded"))
            return false;
    return true;
}

// Runs of candidates all of one length through the grouped scorer's run path, in codes of
// their own at their stride: whole blocks scored where they lie, the rest held in the group.
bool run_agrees(Generator& gen, const std::u32string& query, std::u32string_view alphabet,
                const std::vector<measures::lanes::LaneKernels>& kernels) {
    if (!measures::ShortQuery::fits(query.size())) return true;
    const std::size_t length = 1 + gen.below(measures::ShortQuery::kMaxLength);
    const std::size_t count = gen.below(3 * measures::CandidateGroup::kMaxLanes);
    std::vector<std::u32string> candidates;
    for (std::size_t i = 0; i < count; ++i) {
        std::u32string c = gen.below(2) == 0 ? gen.variant(query, alphabet) : gen.word(alphabet, length);
        c.resize(length, alphabet[0]);
        candidates.push_back(c);
    }
    measures::lanes::LaneCodes codes;
    for (const auto& c : candidates) codes.count(c);
    codes.assign();
    const std::size_t stride = measures::lanes::stride_for(length);
    std::vector<std::uint8_t> written(count * stride);
    std::vector<std::size_t> tags(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (!codes.encode(candidates[i], written.data() + i * stride)) return true;  // more characters than codes
        tags[i] = 1000 + i;
    }
    measures::GroupedScorer grouped(query, &codes);
    std::vector<double> got(count, -1.0);
    auto take = [&](std::size_t tag, double score) { got[tag - 1000] = score; };
    // A few runs, as the batch offers them between its checks, half of them with their
    // blocks' masks made in advance.
    const std::size_t capacity = measures::lanes::kBlockBits / stride;
    for (std::size_t from = 0; from < count;) {
        const std::size_t run = std::min(count - from, 1 + gen.below(2 * measures::CandidateGroup::kMaxLanes));
        measures::lanes::PreparedMasks masks(gen.below(2) == 0 ? 0 : std::size_t{1} << 20);
        std::size_t mask_blocks = 0;
        while ((mask_blocks + 1) * capacity <= run && masks.add(written.data() + (from + mask_blocks * capacity) * stride))
            ++mask_blocks;
        masks.finish();
        grouped.offer_coded(tags.data() + from, run, length, written.data() + from * stride,
                            mask_blocks ? masks.block(0) : nullptr, mask_blocks, take);
        from += run;
    }
    grouped.flush(take);
    std::vector<double> wanted(count);
    for (std::size_t i = 0; i < count; ++i) {
        wanted[i] = reference::reference_weighted(query, candidates[i]);
        if (!same_bits(got[i], wanted[i], query, candidates[i], "run of one length")) return false;
    }
    // Whole blocks in place through every build, where the query takes the candidates' width.
    const std::size_t width = measures::lanes::width_for(query.size(), length);
    if (measures::lanes::kWidthBits[width] != stride) return true;
    const measures::ShortQuery short_query(query, measures::ShortQuery::Use::kManyCandidates);
    std::vector<std::uint8_t> rows(count * stride, 0);
    for (std::size_t i = 0; i < count; ++i)
        for (std::size_t k = 0; k < length; ++k) rows[i * stride + k] = short_query.row_of(candidates[i][k]);
    for (const auto& kernel : kernels) {
        const measures::CandidateGroup group(short_query.lane_query(), width, kernel.by_width[width]);
        double scores[measures::CandidateGroup::kMaxLanes];
        for (std::size_t from = 0; from + group.capacity() <= count; from += group.capacity()) {
            group.score_codes(rows.data() + from * stride, length, scores);
            for (std::size_t k = 0; k < group.capacity(); ++k)
                if (!same_bits(scores[k], wanted[from + k], query, candidates[from + k], kernel.name)) return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    const long queries = argc > 1 ? std::atol(argv[1]) : 20000;
    const unsigned long seed = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 1;
    // Tiny alphabets repeat trigrams; the others mix Latin-1, wider and astral characters.
    const std::u32string alphabets[] = {U"ab", U"abc", U"abcdefghijklmnopqrstuvwxyz ", U"ab \u00e9\u00df\u00ff",
                                        U"\u65e5\u672c\u8a9ea", U"a\U0001F600b\u00ff\u0100\u0153"};
    Generator gen{std::mt19937_64(seed)};
    const std::vector<measures::lanes::LaneKernels> kernels = measures::lanes::runnable_lane_kernels();
    for (const auto& kernel : kernels) std::printf("grouped pass: %s\n", kernel.name);
    long pairs = 0;
    long grouped[measures::lanes::kWidthCount] = {};  // pairs per lane width, each instruction set
    for (long round = 0; round < queries; ++round) {
        const std::u32string& alphabet = alphabets[gen.below(std::size(alphabets))];
        const std::u32string query = gen.word(alphabet, gen.length());
        measures::WeightedScorer scorer(query);
        std::vector<std::u32string> all, shorts;
        std::vector<double> all_wanted, wanted;
        // Now and then enough candidates to fill the widest blocks.
        for (std::size_t c = gen.below(8) == 0 ? 16 + gen.below(80) : gen.below(16); c > 0; --c) {
            const std::u32string candidate =
                gen.below(2) == 0 ? gen.variant(query, alphabet) : gen.word(alphabet, gen.length());
            const double want = reference::reference_weighted(query, candidate);
            if (!same_bits(scorer.score(candidate), want, query, candidate, "reused scorer")) return 1;
            if (!same_bits(measures::weighted_score(std::u32string_view(query), std::u32string_view(candidate)), want,
                           query, candidate, "weighted_score"))
                return 1;
            if (measures::ShortQuery::fits(candidate.size())) {
                shorts.push_back(candidate);
                wanted.push_back(want);
            }
            all.push_back(candidate);
            all_wanted.push_back(want);
            ++pairs;
        }
        if (!grouped_scorer_agrees(query, all, all_wanted)) return 1;
        if (gen.below(4) == 0 && !run_agrees(gen, query, alphabet, kernels)) return 1;
        const measures::ShortQuery* short_query = scorer.short_query();
        if (!short_query) continue;
        for (std::size_t width = 0; width < measures::lanes::kWidthCount; ++width) {
            long in_width = 0;
            for (const auto& kernel : kernels)
                if (!grouped_pass_agrees(gen, *short_query, kernel, width, shorts, wanted, query, in_width)) return 1;
            grouped[width] += in_width / static_cast<long>(kernels.size());
        }
    }
    std::printf("grouped pairs per lane width, each instruction set:");
    for (std::size_t width = 0; width < measures::lanes::kWidthCount; ++width)
        std::printf(" %zu bits %ld;", measures::lanes::kWidthBits[width], grouped[width]);
    std::printf("\nweighted_scorer_soak: %ld pairs agree\n", pairs);
    return 0;
}
