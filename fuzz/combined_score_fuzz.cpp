// The combined score (code points, UTF-8, and prepared for one query) against the plain
// measures in the same grouping, bit for bit.
#include "fuzz_input.hpp"
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
    return 0;
}
