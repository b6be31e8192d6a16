#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace pelgar::matching {

// A summary of a text's characters for the score bound: how many fall in each of 32
// buckets. Lowercase a to z and the space have a bucket each; every other character
// shares one of five by its code point. Counting the characters whose bucket the query
// has gives at least the count of those the query has, in a few instructions.
class CharBuckets {
public:
    static constexpr std::size_t kBuckets = 32;
    // Longer texts could overflow a bucket's count and get no summary.
    static constexpr std::size_t kMaxLength = 255;

    CharBuckets() = default;
    explicit CharBuckets(std::u32string_view text) {
        for (char32_t c : text) ++counts_[bucket(c)];
    }

    // For the query's side: 0xFF in every bucket that the text has.
    static CharBuckets presence(std::u32string_view text) {
        CharBuckets present;
        for (char32_t c : text) present.counts_[bucket(c)] = 0xFF;
        return present;
    }

    // Characters of this text (of kMaxLength at most) whose bucket is present in `present`.
    std::size_t count_in(const CharBuckets& present) const;

private:
    static std::size_t bucket(char32_t c) {
        if (c - U'a' < 26) return c - U'a';
        if (c == U' ') return 26;
        return 27 + c % 5;
    }

    alignas(16) std::uint8_t counts_[kBuckets] = {};
};

}  // namespace pelgar::matching
