#include "matching/batch_best_match.hpp"

#include <algorithm>
#include <string>

#include "common/stop.hpp"
#include "matching/best_of.hpp"
#include "matching/char_buckets.hpp"
#include "measures/lanes/block_masks.hpp"
#include "measures/lanes/lane_width.hpp"
#include "worker_pool/parallel_map.hpp"

namespace pelgar::matching {

namespace {

// The normalised candidates as the queries search them: back to back, ordered by length
// (input order within a length), each with its bucket counts and, when short, its
// characters in the codes of the vectorised pass. A query visits the lengths nearest its
// own first and stops at the lengths whose ceiling is below its best, without touching
// their candidates. Shared read-only by the workers.
struct ByLength {
    static constexpr std::size_t kNoCodes = ~std::size_t{0};
    // The mask rows of the blocks come to about as much again as the texts; past this they
    // are made per query instead.
    static constexpr std::size_t kMaskBudgetBytes = std::size_t{64} << 20;

    CodePointTexts texts;
    std::vector<std::size_t> positions;      // each text's position in the input
    std::vector<CharBuckets> buckets;
    std::vector<std::size_t> length_starts;  // the texts of length m: length_starts[m] to [m + 1]
    measures::lanes::LaneCodes codes;
    std::vector<std::uint8_t> code_bytes;    // each text's own codes, a length's back to back
    std::vector<std::size_t> code_starts;    // each text's codes in code_bytes, or kNoCodes
    // For a text with codes, the end of its stretch: the texts of its length with codes that
    // follow it without a break.
    std::vector<std::size_t> stretch_ends;
    // Mask rows of the full blocks of each stretch, counted from the stretch's first;
    // masks_from[i]: the number of the block that text i starts, or kNoCodes.
    measures::lanes::PreparedMasks masks{kMaskBudgetBytes};
    std::vector<std::size_t> masks_from;
    std::size_t mask_blocks = 0;

    std::size_t lengths() const { return length_starts.size() - 1; }
    const std::uint8_t* codes_of(std::size_t i) const {
        return code_starts[i] == kNoCodes ? nullptr : code_bytes.data() + code_starts[i];
    }
};

// Finds the stretches of texts with codes, and makes the mask rows of their full blocks
// while the budget lasts.
void make_stretches(ByLength& ordered) {
    ordered.stretch_ends.assign(ordered.texts.size(), 0);
    ordered.masks_from.assign(ordered.texts.size(), ByLength::kNoCodes);
    bool masks_left = true;
    StopPoll poll;
    for (std::size_t m = 1; m < ordered.lengths() && m <= measures::ShortQuery::kMaxLength; ++m) {
        const std::size_t capacity = measures::lanes::kBlockBits / measures::lanes::stride_for(m);
        const std::size_t end = ordered.length_starts[m + 1];
        for (std::size_t i = ordered.length_starts[m]; i < end;) {
            std::size_t stretch = 0;
            while (i + stretch < end && ordered.codes_of(i + stretch)) ++stretch;
            std::fill_n(ordered.stretch_ends.begin() + static_cast<std::ptrdiff_t>(i), stretch, i + stretch);
            for (std::size_t block = 0; masks_left && block + capacity <= stretch; block += capacity) {
                poll(static_cast<std::int64_t>(capacity) * candidate_work(m));
                masks_left = ordered.masks.add(ordered.codes_of(i + block));
                if (masks_left) ordered.masks_from[i + block] = ordered.mask_blocks++;
            }
            i += stretch + (stretch == 0);
        }
    }
    ordered.masks.finish();
}

// Writes the short texts in codes of their own, counted over them all.
void encode_short_texts(ByLength& ordered) {
    const auto coded = [](std::u32string_view text) { return measures::ShortQuery::fits(text.size()); };
    StopPoll poll;
    for (std::size_t i = 0; i < ordered.texts.size(); ++i) {
        poll(candidate_work(ordered.texts[i].size()));
        if (coded(ordered.texts[i])) ordered.codes.count(ordered.texts[i]);
    }
    ordered.codes.assign();
    ordered.code_starts.assign(ordered.texts.size(), ByLength::kNoCodes);
    for (std::size_t i = 0; i < ordered.texts.size(); ++i) {
        const std::u32string_view text = ordered.texts[i];
        poll(candidate_work(text.size()));
        if (!coded(text)) continue;
        const std::size_t start = ordered.code_bytes.size();
        ordered.code_bytes.resize(start + measures::lanes::stride_for(text.size()));
        if (ordered.codes.encode(text, ordered.code_bytes.data() + start))
            ordered.code_starts[i] = start;
        else
            ordered.code_bytes.resize(start);
    }
}

ByLength by_length(const CodePointTexts& texts) {
    ByLength ordered;
    std::size_t longest = 0;
    for (std::size_t i = 0; i < texts.size(); ++i) longest = std::max(longest, texts[i].size());
    // A counting sort by length, stable.
    ordered.length_starts.assign(longest + 2, 0);
    for (std::size_t i = 0; i < texts.size(); ++i) ++ordered.length_starts[texts[i].size() + 1];
    for (std::size_t m = 1; m < ordered.length_starts.size(); ++m)
        ordered.length_starts[m] += ordered.length_starts[m - 1];
    std::vector<std::size_t> next(ordered.length_starts.begin(), ordered.length_starts.end() - 1);
    ordered.positions.resize(texts.size());
    for (std::size_t i = 0; i < texts.size(); ++i) ordered.positions[next[texts[i].size()]++] = i;

    ordered.texts.reserve(texts.size());
    ordered.buckets.reserve(texts.size());
    StopPoll poll;
    for (const std::size_t position : ordered.positions) {
        const std::u32string_view text = texts[position];
        poll(candidate_work(text.size()));
        ordered.texts.push_back(text);
        ordered.buckets.emplace_back(text.size() <= CharBuckets::kMaxLength ? text : std::u32string_view());
    }
    encode_short_texts(ordered);
    make_stretches(ordered);
    return ordered;
}

// Candidates offered a run at a time, between checks of the stop and of the length's ceiling.
constexpr std::size_t kRun = 256;

std::optional<Match> best_of_prepared(std::u32string_view query, const ByLength& candidates) {
    const std::u32string normalized_query = text::normalize(query);
    BestOf search(normalized_query, &candidates.codes);
    StopPoll poll;
    auto offer_one = [&](std::size_t i) {
        const std::u32string_view candidate = candidates.texts[i];
        poll(candidate_work(candidate.size()));
        search.offer(candidates.positions[i], candidate, candidates.buckets[i], candidates.codes_of(i));
    };
    // Stretches of candidates with codes in runs of a few blocks, the others one by one.
    auto offer_length = [&](std::size_t m) {
        const std::size_t end = candidates.length_starts[m + 1];
        if (!search.takes_runs(m)) {
            for (std::size_t i = candidates.length_starts[m]; i < end; ++i) offer_one(i);
            return;
        }
        for (std::size_t i = candidates.length_starts[m]; i < end;) {
            if (!candidates.codes_of(i)) {
                offer_one(i++);
                continue;
            }
            const std::size_t run = std::min(kRun, candidates.stretch_ends[i] - i);
            poll(static_cast<std::int64_t>(run) * candidate_work(m));
            // A run starts a block of its stretch; its blocks' masks follow in order.
            const std::size_t first_mask = candidates.masks_from[i];
            if (first_mask == ByLength::kNoCodes) {
                search.offer_run(&candidates.positions[i], run, m, candidates.codes_of(i));
            } else {
                const std::size_t blocks = run / (measures::lanes::kBlockBits / measures::lanes::stride_for(m));
                search.offer_run(&candidates.positions[i], run, m, candidates.codes_of(i),
                                 candidates.masks.block(first_mask), std::min(blocks, candidates.mask_blocks - first_mask));
            }
            i += run;
        }
    };
    // Outwards from the query's length; the ceiling of a length never rises further out, so
    // each side ends at its first length out of reach.
    const std::size_t n = normalized_query.size();
    bool shorter_open = true, longer_open = true;
    if (n < candidates.lengths()) offer_length(n);
    for (std::size_t d = 1; shorter_open || longer_open; ++d) {
        if (shorter_open) {
            if (d > n || search.out_of_reach(n - d))
                shorter_open = false;
            else if (n - d < candidates.lengths())
                offer_length(n - d);
        }
        if (longer_open) {
            if (n + d >= candidates.lengths() || search.out_of_reach(n + d))
                longer_open = false;
            else
                offer_length(n + d);
        }
    }
    return search.best();
}

}  // namespace

std::vector<std::optional<Match>> batch_find_best(const CodePointTexts& queries, const PreparedCandidates& candidates) {
    const ByLength ordered = by_length(candidates.normalized());
    std::vector<std::u32string_view> items(queries.size());
    for (std::size_t i = 0; i < queries.size(); ++i) items[i] = queries[i];
    return pool::parallel_map<std::optional<Match>>(std::span<const std::u32string_view>(items), ordered,
                                                    best_of_prepared);
}

}  // namespace pelgar::matching
