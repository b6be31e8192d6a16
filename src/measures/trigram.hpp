#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "measures/kernel_support.hpp"

namespace pelgar::measures {

// Trigram similarity with the first string fixed, for scoring one query against many
// candidates: score(b) is bit for bit trigram_score(a, b). The query's packed trigram
// keys are sorted once; each score sorts those candidate keys that may occur in the
// query and merges the two lists.
// The candidate's keys go to scratch that the object owns, so score() is not const and
// an object serves one thread at a time. Strings of up to 64 characters need no heap
// allocation.
class TrigramPattern {
public:
    explicit TrigramPattern(std::u32string_view a);

    double score(std::u32string_view b);

private:
    static constexpr std::size_t kInline = 62;  // the trigrams of 64 characters

    kernel::SmallBuffer<std::uint64_t, kInline> keys_;
    // A 1024-bit filter of the query's keys: candidate keys that miss it cannot match
    // and are dropped before the sort.
    std::array<std::uint64_t, 16> filter_{};
    kernel::SmallBuffer<std::uint64_t, kInline> scratch_;
};

// The trigrams of a string in order, duplicates kept, each packed into one key
// (three 21-bit code points); empty for fewer than three characters.
std::vector<std::uint64_t> trigrams(std::u32string_view text);
// The same into `out`, whose storage is reused.
void trigrams(std::u32string_view text, std::vector<std::uint64_t>& out);

// 2 common / (n_a + n_b) for n_a, n_b > 0 trigrams, of which `common` pair off.
inline double trigram_dice(std::uint64_t common, std::uint64_t n_a, std::uint64_t n_b) {
    const double md = static_cast<double>(common);
    return (md + md) / static_cast<double>(n_a + n_b);
}

// Dice coefficient over the multisets of character trigrams, no boundary markers.
double trigram_score(std::u32string_view a, std::u32string_view b);

}  // namespace pelgar::measures
