#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace pelgar::measures {

// Jaro-Winkler similarity with the first string fixed, for scoring one query against
// many candidates: score(b) is bit for bit jaro_winkler_score(a, b). The matching is
// bit-parallel over the positions of b; when one mask per distinct character of a would
// take more than linear memory, it walks per-character position lists of b instead.
// score() works in scratch held by the object, so an object is used by one thread at a
// time (give each thread its own copy).
// Strings of up to 64 characters need no heap allocation, neither here nor per score.
class JaroWinklerPattern {
public:
    explicit JaroWinklerPattern(std::u32string_view a);

    double score(std::u32string_view b) const;

private:
    static constexpr std::size_t kInline = 64;

    struct Slot {
        char32_t key;
        std::uint32_t row;  // 0 marks an empty slot
    };

    const char32_t* chars() const { return n_ <= kInline ? local_chars_.data() : heap_chars_.data(); }
    const std::uint32_t* rows() const { return n_ <= kInline ? local_rows_.data() : heap_rows_.data(); }
    const Slot* slots() const { return slot_count_ <= kInlineSlots ? local_slots_.data() : heap_slots_.data(); }

    // Mask row of c: one row per distinct character of a, and the sink row when a
    // lacks c (it soaks up those positions, so filling the masks needs no branch).
    std::uint32_t row_of(char32_t c) const;
    std::uint64_t* mask_words(std::size_t count) const;

    double finish(std::uint64_t matches, std::uint64_t mismatched, std::size_t m, std::u32string_view b) const;
    double score_short(std::u32string_view b, std::size_t window) const;
    double score_long(std::u32string_view b, std::size_t window) const;
    double score_by_positions(std::u32string_view b, std::size_t window) const;
    double count_transpositions(std::size_t matches, std::size_t m, std::u32string_view b) const;

    std::size_t n_ = 0;
    std::size_t rows_ = 1;
    std::uint32_t sink_ = 0;
    std::array<char32_t, kInline> local_chars_;
    std::vector<char32_t> heap_chars_;
    // Mask row of each position of a.
    std::array<std::uint32_t, kInline> local_rows_;
    std::vector<std::uint32_t> heap_rows_;
    // Latin-1 characters get rows 1 to 256, looked up directly; 0 is the sink. Only when
    // a holds all 256 of them does row 256 wrap to 0 here, and the sink moves elsewhere.
    std::array<std::uint8_t, 256> latin1_{};
    // The other characters of a, in an open-addressed table of power-of-two size.
    static constexpr std::size_t kInlineSlots = 128;
    std::size_t slot_count_ = 0;
    int slot_shift_ = 0;
    std::array<Slot, kInlineSlots> local_slots_;
    std::vector<Slot> heap_slots_;

    // Per-score scratch: one position mask of b per row.
    mutable std::array<std::uint64_t, kInline + 1> local_masks_;
    mutable std::vector<std::uint64_t> heap_masks_;
    mutable std::vector<std::uint64_t> heap_flags_;
    mutable std::vector<char32_t> heap_matched_;
    // Per-score scratch of the position lists: b's row per position, then per row its
    // positions in order and a cursor into them.
    mutable std::vector<std::uint32_t> heap_b_rows_;
    mutable std::vector<std::size_t> heap_positions_;
    mutable std::vector<std::size_t> heap_starts_;
    mutable std::vector<std::size_t> heap_cursors_;
};

namespace detail {
constexpr double bits_to_double(std::uint64_t bits) { return std::bit_cast<double>(bits); }
// Boost factor by common-prefix length as exact bit patterns; 3 is the product 3 * 0.1.
inline constexpr double kPrefixBoost[5] = {
    bits_to_double(0x0000000000000000), bits_to_double(0x3FB999999999999A), bits_to_double(0x3FC999999999999A),
    bits_to_double(0x3FD3333333333334), bits_to_double(0x3FD999999999999A),
};
static_assert(kPrefixBoost[1] == 0.1 && kPrefixBoost[2] == 0.2 && kPrefixBoost[4] == 0.4);
static_assert(kPrefixBoost[3] == 3 * 0.1 && kPrefixBoost[3] != 0.3);
}  // namespace detail

// The last steps from the three quotients u = (M - X/2) / M, r1 = M / n and r2 = M / m,
// each already rounded, and `prefix` <= 4 equal leading characters.
inline double jaro_winkler_from_quotients(double u, double r1, double r2, std::size_t prefix) {
    // Every step below is one rounding in a fixed order; regrouping changes the last bit.
    const double s = r2 + r1;
    const double jaro = (u + s) / 3.0;
    return ((1.0 - jaro) * detail::kPrefixBoost[prefix]) + jaro;
}

// The similarity from its counts: `matches` > 0 matched pairs of which `mismatched` are
// out of order, string lengths n and m, and `prefix` <= 4 equal leading characters.
double jaro_winkler_from_counts(std::uint64_t matches, std::uint64_t mismatched, std::size_t n, std::size_t m,
                                std::size_t prefix);

// Jaro-Winkler similarity with greedy first-fit matching driven by the first string.
double jaro_winkler_score(std::u32string_view a, std::u32string_view b);

}  // namespace pelgar::measures
