#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "measures/kernel_support.hpp"

namespace pelgar::measures {

// The edit distance from one fixed string to many others, bit-parallel: each column of
// the distance table is held as bit vectors of +1/-1 steps (Myers, Hyyrö), one 64-bit
// word per 64 characters of the pattern. The match masks are built once here and
// reused for every candidate. A pattern of up to 64 characters allocates nothing.
//
// Thread-compatible: a const pattern is safe from one thread at a time, and
// distance() owns all of its scratch.
// The match masks of a pattern of at most 64 characters: bit i of eq(c) is set exactly
// when pattern[i] == c.
class ShortMasks {
public:
    explicit ShortMasks(std::u32string_view pattern);
    std::uint64_t eq(char32_t c) const { return masks_[rows_.find(c)]; }

private:
    kernel::CharTable<std::uint8_t> rows_;
    std::uint64_t masks_[65];  // [0] = 0 for characters that are not in the pattern
};

class LevenshteinPattern {
public:
    explicit LevenshteinPattern(std::u32string_view a);
    ~LevenshteinPattern();

    // Exactly the table distance from the pattern to b.
    std::uint64_t distance(std::u32string_view b) const;

private:
    struct LongRows;

    std::uint64_t multi_word_distance(std::size_t first_row, std::size_t length, std::u32string_view text) const;

    std::size_t length_ = 0;
    kernel::SmallBuffer<char32_t, 64> chars_;
    ShortMasks short_;                // patterns of up to 64 characters
    std::unique_ptr<LongRows> long_;  // longer ones
};

// Unit-cost insertions, deletions and substitutions between two normalised strings: the
// common prefix and suffix go first, and the shorter remainder becomes the pattern.
std::uint64_t edit_distance(std::u32string_view a, std::u32string_view b);

}  // namespace pelgar::measures
