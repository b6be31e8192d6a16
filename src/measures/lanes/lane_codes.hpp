#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "measures/kernel_support.hpp"

namespace pelgar::measures::lanes {

// Byte codes for the characters of many candidates, which many queries score in the
// vectorised pass: each candidate is written as codes once, each query's characters are
// looked up once, and no candidate's characters are looked up per query. The 254
// characters most frequent in the candidates get the codes 1 to 254 (0 pads a lane); a
// candidate with any other character has no codes and is written per query instead.
class LaneCodes {
public:
    // The code of a query character that no coded candidate holds.
    static constexpr std::uint8_t kNone = 255;

    // Counts the characters of a candidate; every candidate is counted before assign().
    void count(std::u32string_view candidate);
    void assign();

    // Writes the candidate's own codes, lanes::stride_for(its length) bytes (1 to
    // kMaxLength characters); false when one of its characters has none.
    bool encode(std::u32string_view candidate, std::uint8_t* codes) const;
    // A query character's code: the candidates' code for it, or kNone.
    std::uint8_t query_code(char32_t c) const {
        const std::uint8_t code = codes_.find(c);
        return code == 0 ? kNone : code;
    }

private:
    struct Seen {
        char32_t c;
        std::size_t count;
    };
    kernel::CharTable<std::uint32_t> seen_index_;  // 1 + the character's place in seen_
    std::vector<Seen> seen_;
    kernel::CharTable<std::uint8_t> codes_;
};

}  // namespace pelgar::measures::lanes
