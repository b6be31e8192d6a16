// The combined score (code points, UTF-8, prepared for one query, and grouped for the
// vectorised pass of every instruction set the processor runs) against the plain measures
// in the same grouping, bit for bit.
#include "fuzz_input.hpp"
#include "measures/lanes/candidate_group.hpp"
#include "measures/weighted_score.hpp"
#include "reference_measures.hpp"
#include "text/utf8.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelgar;
    const auto parts = fuzz::split_code_points(data, size);
    const std::u32string& a = parts[0];
    const std::u32string b = parts.size() > 1 ? parts[1] : std::u32string();
    const double expected = reference::reference_weighted(a, b);
    fuzz::check(fuzz::same_bits(measures::weighted_score(a, b), expected), "weighted_score differs");
    fuzz::check(fuzz::same_bits(measures::weighted_score(text::encode_utf8(a), text::encode_utf8(b)), expected),
                "weighted_score of UTF-8 differs");
    // One scorer for several candidates, as the matching functions use it.
    measures::WeightedScorer scorer(a);
    for (std::size_t i = 1; i < parts.size(); ++i)
        fuzz::check(fuzz::same_bits(scorer.score(parts[i]), reference::reference_weighted(a, parts[i])),
                    "WeightedScorer differs");
    const measures::ShortQuery* short_query = scorer.short_query();
    if (!short_query) return 0;
    for (const auto& kernel : measures::lanes::runnable_lane_kernels()) {
        measures::CandidateGroup group(*short_query, kernel.kernel);
        std::vector<std::size_t> members;
        auto score_group = [&] {
            double scores[measures::CandidateGroup::kLanes];
            group.score_into(scores);
            for (std::size_t k = 0; k < members.size(); ++k)
                fuzz::check(fuzz::same_bits(scores[k], reference::reference_weighted(a, parts[members[k]])),
                            "grouped pass differs");
            members.clear();
        };
        for (std::size_t i = 1; i < parts.size(); ++i) {
            if (parts[i].empty() || parts[i].size() > measures::ShortQuery::kMaxLength) continue;
            group.add(parts[i]);
            members.push_back(i);
            if (group.full()) score_group();
        }
        if (group.size() != 0) score_group();
    }
    return 0;
}
