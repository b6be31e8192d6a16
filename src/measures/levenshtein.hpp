#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

namespace pelgar::measures {

// The edit distance from one fixed string to many others, bit-parallel: each column of
// the distance table is held as bit vectors of +1/-1 steps (Myers, Hyyrö), one 64-bit
// word per 64 characters of the pattern. The match masks are built once here and
// reused for every candidate. A pattern of up to 64 characters allocates nothing.
//
// Thread-compatible: a const pattern is safe from one thread at a time, and
// distance() owns all of its scratch.
class LevenshteinPattern {
public:
    explicit LevenshteinPattern(std::u32string_view a);

    std::size_t size() const noexcept { return length_; }

    // Exactly the table distance from the pattern to b.
    std::uint64_t distance(std::u32string_view b) const;

private:
    // Inline storage of which only the part in use is ever written or read: building a
    // pattern then clears a few hundred bytes, not kilobytes. Copies are raw bytes.
    template <class T, std::size_t N>
    struct Raw {
        T data[N];
        Raw() noexcept {}
        Raw(const Raw& other) noexcept { std::memcpy(data, other.data, sizeof data); }
        Raw& operator=(const Raw& other) noexcept {
            std::memcpy(data, other.data, sizeof data);
            return *this;
        }
    };

    struct SparseWord {
        std::size_t word;
        std::uint64_t mask;
    };

    void build_single_word(std::u32string_view a);
    void build_multi_word(std::u32string_view a);
    std::uint64_t multi_word_distance(std::size_t first_row, std::size_t length, std::u32string_view text) const;

    std::size_t length_ = 0;
    std::size_t words_ = 0;  // 64-bit words per mask

    // Latin-1 code points: the index of their mask, or of their dense row; 0 for a
    // character that is not in the pattern, whose mask or row is all zero.
    std::array<std::uint16_t, 256> low_{};

    // Open addressing for the other code points, slot_mask_ + 1 slots; key 0 marks an
    // empty slot, which is safe because 0 is Latin-1 and never stored. The value is the
    // mask itself (one word) or the sparse row id (several words).
    std::size_t slot_mask_ = 0;

    // Patterns of up to 64 characters.
    static constexpr std::size_t inline_slots = 128;  // up to 64 keys at load <= 1/2
    Raw<char32_t, 64> short_chars_;
    Raw<std::uint64_t, 65> short_masks_;  // [0] = 0, then one per distinct Latin-1 character
    Raw<char32_t, inline_slots> short_keys_;
    Raw<std::uint64_t, inline_slots> short_values_;

    // Longer patterns.
    std::vector<char32_t> long_chars_;
    std::vector<char32_t> long_keys_;
    std::vector<std::uint64_t> long_values_;
    std::size_t stride_ = 0;           // words_ + 1: a zero word on top eases shifted reads
    std::vector<std::uint64_t> rows_;  // dense Latin-1 rows, stride_ words each
    // Other rows stay sparse, so that memory grows with the length and not with length
    // times distinct characters: the nonzero words of row id, by word, are
    // sparse_[sparse_begin_[id]] to sparse_[sparse_begin_[id + 1] - 1].
    std::vector<SparseWord> sparse_;
    std::vector<std::size_t> sparse_begin_;
};

// Unit-cost insertions, deletions and substitutions between two normalised strings: the
// common prefix and suffix go first, and the shorter remainder becomes the pattern.
std::uint64_t edit_distance(std::u32string_view a, std::u32string_view b);

}  // namespace pelgar::measures
