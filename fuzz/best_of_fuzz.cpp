// The pruned best-of search against a plain loop over the plain combined score: the same
// winner (the last of equal top scores) with the same bits, and a bound never below a score.
#include <optional>

#include "fuzz_input.hpp"
#include "matching/best_of.hpp"
#include "reference_measures.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelgar;
    const auto parts = fuzz::split_code_points(data, size);
    const std::u32string& query = parts[0];
    matching::BestOf search(query);
    matching::ScoreBound bound(query);
    std::optional<matching::Match> expected;
    for (std::size_t i = 1; i < parts.size(); ++i) {
        const double score = reference::reference_weighted(query, parts[i]);
        fuzz::check(bound.upper_bound(parts[i]) >= score, "score bound below the score");
        if (parts[i].size() <= matching::CharBuckets::kMaxLength)
            fuzz::check(bound.upper_bound(parts[i], matching::CharBuckets(parts[i])) >= score,
                        "bucketed score bound below the score");
        fuzz::check(bound.length_ceiling(parts[i].size()) >= score, "length ceiling below the score");
        if (!expected || score >= expected->score) expected = matching::Match{i - 1, score};
        search.offer(i - 1, parts[i]);
    }
    const auto& got = search.best();
    fuzz::check(got.has_value() == expected.has_value(), "best-of found a match where the loop did not, or not one");
    if (got) {
        fuzz::check(got->index == expected->index, "best-of chose another candidate");
        fuzz::check(fuzz::same_bits(got->score, expected->score), "best-of score differs");
    }
    return 0;
}
