// The combined score (code points, UTF-8, prepared for one query, and grouped for the
// vectorised pass of every instruction set the processor runs in every lane width, and
// in codes of the candidates' own) against the plain measures in the same grouping, bit
// for bit.
#include "fuzz_input.hpp"
#include "measures/grouped_scorer.hpp"
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
    // Every build and every lane width that holds the candidate, the candidates written as
    // the query's rows.
    for (const auto& kernels : measures::lanes::runnable_lane_kernels()) {
        for (std::size_t width = 0; width < measures::lanes::kWidthCount; ++width) {
            measures::CandidateGroup group(short_query->lane_query(), width, kernels.by_width[width]);
            std::vector<std::size_t> members;
            auto score_group = [&] {
                double scores[measures::CandidateGroup::kMaxLanes];
                group.score_into(scores);
                for (std::size_t k = 0; k < members.size(); ++k)
                    fuzz::check(fuzz::same_bits(scores[k], reference::reference_weighted(a, parts[members[k]])),
                                "grouped pass differs");
                members.clear();
            };
            for (std::size_t i = 1; i < parts.size(); ++i) {
                if (!measures::ShortQuery::fits(parts[i].size()) ||
                    measures::lanes::width_for(a.size(), parts[i].size()) > width)
                    continue;
                std::uint8_t* codes = group.add(parts[i].size());
                for (std::size_t k = 0; k < parts[i].size(); ++k) codes[k] = short_query->row_of(parts[i][k]);
                members.push_back(i);
                if (group.full()) score_group();
            }
            if (group.size() != 0) score_group();
        }
    }
    // The grouped scorer with the candidates written in codes of their own.
    measures::lanes::LaneCodes codes;
    for (std::size_t i = 1; i < parts.size(); ++i) codes.count(parts[i]);
    codes.assign();
    measures::GroupedScorer grouped(a, &codes);
    std::vector<double> got(parts.size(), -1.0);
    auto take = [&](std::size_t i, double score) { got[i] = score; };
    std::uint8_t written[measures::ShortQuery::kMaxLength];
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const bool coded = measures::ShortQuery::fits(parts[i].size()) && codes.encode(parts[i], written);
        grouped.offer_coded(i, parts[i], coded ? written : nullptr, take);
    }
    grouped.flush(take);
    for (std::size_t i = 1; i < parts.size(); ++i)
        fuzz::check(fuzz::same_bits(got[i], reference::reference_weighted(a, parts[i])), "coded grouped scorer differs");
    return 0;
}
