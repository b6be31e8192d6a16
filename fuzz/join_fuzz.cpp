// The join searches against plain loops over the combined score: top-k of every text over
// the list and the self-join's pairs, same positions, same order, same bits.
// Input: a control byte (threshold and k), then texts separated by 0xFF; a text that is
// a single 0xFE byte is a missing value.
#include <algorithm>
#include <vector>

#include "fuzz_input.hpp"
#include "join/candidate_index.hpp"
#include "join/self_join.hpp"
#include "measures/weighted_score.hpp"
#include "text/utf8.hpp"

namespace {

// The partners each probe finds, by key.
struct Collect final : pelgar::join::PairSink {
    explicit Collect(std::size_t keys) : partners(keys) {}
    void found(std::uint32_t key, std::uint32_t partner, double score) override {
        partners[key].emplace_back(partner, score);
    }
    std::vector<std::vector<std::pair<std::uint32_t, double>>> partners;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelgar;
    if (size == 0) return 0;
    static constexpr double thresholds[] = {0.0, 0.3, 0.75, 0.7500000000000001, 0.8, 0.85, 0.9, 0.95, 1.0};
    const double threshold = thresholds[data[0] % std::size(thresholds)];
    const std::size_t k = 1 + data[0] / std::size(thresholds) % 4;
    const auto parts = fuzz::split_code_points(data + 1, size - 1);
    if (parts.size() > 40) return 0;
    join::PreparedTexts texts;
    for (const auto& part : parts) {
        if (part == std::u32string(1, fuzz::code_point_of(0xFE))) texts.add_missing();
        else texts.add_key(text::encode_utf8(part));
    }
    auto score = [&](std::size_t a, std::size_t b) { return measures::weighted_score(parts[a], parts[b]); };

    const join::SelfJoin self_join(texts, threshold);
    Collect collect(self_join.keys().count());
    for (std::uint32_t key = 0; key < self_join.keys().count(); ++key) self_join.probe(key, collect);
    const std::vector<join::Pair> got = join::row_pairs(self_join.keys(), threshold, collect.partners);
    std::size_t at = 0;
    const join::CandidateIndex index(join::Scorer::combined, texts);
    for (std::size_t i = 0; i < texts.size(); ++i) {
        for (std::size_t j = i + 1; j < texts.size() && !texts.missing(i); ++j) {
            if (texts.missing(j) || !(score(i, j) >= threshold)) continue;
            fuzz::check(at < got.size() && got[at].first == i && got[at].second == j,
                        "self-join missed or misplaced a pair");
            fuzz::check(fuzz::same_bits(got[at].score, score(i, j)), "self-join score differs");
            ++at;
        }

        if (texts.missing(i)) continue;
        std::vector<matching::Match> expected;
        for (std::size_t c = 0; c < texts.size(); ++c)
            if (!texts.missing(c) && score(i, c) >= threshold) expected.push_back({c, score(i, c)});
        std::stable_sort(expected.begin(), expected.end(), [](auto& x, auto& y) { return x.score > y.score; });
        if (expected.size() > k) expected.resize(k);
        const auto top = index.top_k(parts[i], k, threshold);
        fuzz::check(top.size() == expected.size(), "top-k length differs");
        for (std::size_t r = 0; r < top.size(); ++r) {
            fuzz::check(top[r].index == expected[r].index, "top-k chose another candidate");
            fuzz::check(fuzz::same_bits(top[r].score, expected[r].score), "top-k score differs");
        }
    }
    fuzz::check(at == got.size(), "self-join gave a pair that does not qualify");
    return 0;
}
