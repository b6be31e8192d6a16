#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>

// Unicode 17.0 character data for normalisation, generated into unicode_tables.cpp by
// tools/unicode/gen_unicode_tables.py. Everything here is constant: safe from any thread.
namespace pelgar::text::unicode {

// Properties of one code point. Records are shared by all code points with equal data.
struct CharRecord {
    std::int32_t lower_delta;             // simple lowercase mapping: cp + lower_delta
    std::uint16_t decomposition_offset;   // into decomposition_pool
    std::uint8_t decomposition_length;    // 0: the code point is its own decomposition
    std::uint8_t flags;
};

inline constexpr std::uint8_t flag_cased = 0x01;
inline constexpr std::uint8_t flag_case_ignorable = 0x02;
inline constexpr std::uint8_t flag_mark = 0x04;  // General_Category Mn, Mc or Me
// Second part of some primary composite (Hangul vowel and trailing jamo included).
inline constexpr std::uint8_t flag_composes_with_previous = 0x08;
// Lowercase is not the simple mapping alone: U+0130 (two code points) and U+03A3 (Final_Sigma).
inline constexpr std::uint8_t flag_special_lowercase = 0x10;

// Decomposition pool entries: the code point in the low 21 bits, plus these two tags.
inline constexpr std::uint32_t decomposition_mark_bit = 0x80000000u;
inline constexpr std::uint32_t decomposition_composes_bit = 0x40000000u;
inline constexpr std::uint32_t decomposition_code_mask = 0x1FFFFFu;

inline constexpr unsigned block_shift = 8;

// Checked by the generator for every code point: after lowercasing and decomposing, one input
// character hands the composer at most max_utf8_growth times its own UTF-8 bytes and at most
// one code point per byte, and no composite is longer than its two parts.
inline constexpr std::size_t max_utf8_growth = 3;

extern const std::uint8_t block_index[];      // cp >> block_shift -> block
extern const std::uint16_t block_records[];   // block << block_shift | low bits -> record
extern const CharRecord records[];
extern const std::uint32_t decomposition_pool[];
extern const std::uint64_t composition_keys[];  // first << 21 | second, ascending
extern const char32_t composition_results[];
extern const std::size_t composition_pair_count;

// cp must be at most U+10FFFF.
inline const CharRecord& record(char32_t cp) {
    const std::size_t block = block_index[cp >> block_shift];
    return records[block_records[(block << block_shift) | (cp & ((1u << block_shift) - 1))]];
}

// Hangul syllables: decomposed and composed by arithmetic, not by table.
inline constexpr char32_t hangul_s_base = 0xAC00, hangul_l_base = 0x1100, hangul_v_base = 0x1161,
                          hangul_t_base = 0x11A7;
inline constexpr char32_t hangul_l_count = 19, hangul_v_count = 21, hangul_t_count = 28;
inline constexpr char32_t hangul_n_count = hangul_v_count * hangul_t_count;
inline constexpr char32_t hangul_s_count = hangul_l_count * hangul_n_count;

inline bool is_hangul_syllable(char32_t cp) { return cp - hangul_s_base < hangul_s_count; }

// The primary composite of first + second, or 0 when they do not compose.
inline char32_t compose(char32_t first, char32_t second) {
    if (second - hangul_v_base < hangul_v_count) {
        if (first - hangul_l_base < hangul_l_count)
            return hangul_s_base + ((first - hangul_l_base) * hangul_v_count + (second - hangul_v_base)) * hangul_t_count;
    } else if (second - hangul_t_base - 1 < hangul_t_count - 1) {
        if (is_hangul_syllable(first) && (first - hangul_s_base) % hangul_t_count == 0)
            return first + (second - hangul_t_base);
    }
    const std::uint64_t key = (std::uint64_t{first} << 21) | second;
    const std::uint64_t* end = composition_keys + composition_pair_count;
    const std::uint64_t* found = std::lower_bound(composition_keys, end, key);
    return found != end && *found == key ? composition_results[found - composition_keys] : 0;
}

}  // namespace pelgar::text::unicode
