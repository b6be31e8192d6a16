#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "matching/char_buckets.hpp"

namespace pelgar::matching {

// An upper bound of weighted_score(query, candidate) that costs a few nanoseconds, for
// skipping candidates that cannot reach the running best. It never falls below the score:
// it is the exact bound plus a margin far larger than any rounding in either computation.
// It caches per candidate length, so upper_bound() is not const: one thread at a time.
class ScoreBound {
public:
    explicit ScoreBound(std::u32string_view query);

    double upper_bound(std::u32string_view candidate);

    // The same from the candidate's bucket counts (of CharBuckets::kMaxLength characters at
    // most), which stand in for checking each character against the query.
    double upper_bound(std::u32string_view candidate, const CharBuckets& candidate_buckets);

    // An upper bound over every candidate of m characters, looser than upper_bound() but
    // cached per length, so checking it first costs next to nothing.
    double length_ceiling(std::size_t m) { return length_part(m).ceiling; }

    // The same, for a candidate known to share at most `shared_trigrams` trigrams with the
    // query (a multiset count); tighter wherever that count is small.
    double upper_bound(std::u32string_view candidate, std::size_t shared_trigrams);
    // The same for a candidate in UTF-8 of `length` characters, read without decoding it first.
    double upper_bound_utf8(std::string_view candidate, std::size_t length, std::size_t shared_trigrams);

    static constexpr std::size_t kUnknownShared = std::numeric_limits<std::size_t>::max();
    static constexpr std::size_t kUnreachable = std::numeric_limits<std::size_t>::max();

    // An upper bound over every pair of strings of n and m characters that share at most
    // `shared_trigrams` trigrams, in either order; it never falls as that count grows. For
    // any number of shared trigrams (kUnknownShared) it never increases as m moves away from
    // n; for a given number it may. Short lengths read it from a table.
    static double length_bound(std::size_t n, std::size_t m, std::size_t shared_trigrams);

    // The fewest trigrams that strings of n and m characters must share for length_bound to
    // reach `cutoff` (0 when either has under 3 characters and the lengths reach it), or
    // kUnreachable when no number does.
    static std::size_t min_shared_trigrams(std::size_t n, std::size_t m, double cutoff);

private:
    template <class Text>
    double bound_with_shared(Text candidate, std::size_t m, std::size_t shared_trigrams);
    double bound_with_trigram_term(std::u32string_view candidate, double trigram_term);
    // in_query: how many of the candidate's characters can be in the query, at least all that are.
    double bound_from_count(std::u32string_view candidate, std::size_t in_query, double trigram_term);
    // Equal leading characters of the query and the candidate, as many as the boost counts.
    std::size_t common_prefix(std::u32string_view candidate) const;

    // 1 when c can be in the query: every character above U+00FF counts as if it were.
    std::uint8_t in_query(char32_t c) const { return low_present_[c < 256 ? c : 256]; }

    // The parts of the bound that depend on the candidate's length only, made on first use.
    struct LengthPart {
        double inverse_m = 0.0;
        double edit_factor = 0.0;    // min(1/n, 1/m) * 0.35
        double inverse_longer = 0.0;    // min(1/n, 1/m)
        double inverse_trigrams = 0.0;  // 1 / (n - 2 + m - 2) when both have trigrams
        double trigram_term = 0.0;   // the trigram bound times 0.25
        double ceiling = 0.0;        // length_bound(n, m, any number of shared trigrams)
        bool ready = false;
    };
    static constexpr std::size_t kCachedLengths = 64;
    const LengthPart& length_part(std::size_t m) {
        return m <= kCachedLengths && length_parts_[m].ready ? length_parts_[m] : new_length_part(m);
    }
    const LengthPart& new_length_part(std::size_t m);

    std::u32string_view query_;
    std::array<LengthPart, kCachedLengths + 1> length_parts_{};
    LengthPart long_part_;  // the part of the latest length past the cache
    double inverse_length_ = 0.0;
    // 1 for the code points below 256 that the query holds, and at 256 for all above.
    std::array<std::uint8_t, 257> low_present_{};
    CharBuckets query_buckets_;                   // which buckets the query's characters fall in
};

}  // namespace pelgar::matching
