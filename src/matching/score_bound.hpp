#pragma once

#include <array>
#include <cstdint>
#include <string_view>

namespace pelgar::matching {

// An upper bound of weighted_score(query, candidate) that costs a few nanoseconds, for
// skipping candidates that cannot reach the running best. It never falls below the score:
// it is the exact bound plus a margin far larger than any rounding in either computation.
class ScoreBound {
public:
    explicit ScoreBound(std::u32string_view query);

    double upper_bound(std::u32string_view candidate) const;

private:
    bool in_query(char32_t c) const {
        return c >= 256 || ((low_present_[c >> 6] >> (c & 63)) & 1) != 0;
    }

    std::u32string_view query_;
    double inverse_length_ = 0.0;
    std::array<std::uint64_t, 4> low_present_{};  // which code points below 256 the query holds
};

}  // namespace pelgar::matching
