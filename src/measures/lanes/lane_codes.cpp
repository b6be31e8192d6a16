#include "measures/lanes/lane_codes.hpp"

#include <algorithm>

#include "measures/lanes/lane_width.hpp"

namespace pelgar::measures::lanes {

namespace {

constexpr std::size_t kCodes = 254;

}  // namespace

void LaneCodes::count(std::u32string_view candidate) {
    for (const char32_t c : candidate) {
        std::uint32_t& index = seen_index_.entry(c);
        if (index == 0) {
            seen_.push_back({c, 0});
            index = static_cast<std::uint32_t>(seen_.size());
        }
        ++seen_[index - 1].count;
    }
}

void LaneCodes::assign() {
    // The most frequent first; ties by code point, so that the codes depend on the texts alone.
    std::sort(seen_.begin(), seen_.end(),
              [](const Seen& x, const Seen& y) { return x.count > y.count || (x.count == y.count && x.c < y.c); });
    for (std::size_t i = 0; i < seen_.size() && i < kCodes; ++i) codes_.entry(seen_[i].c) = static_cast<std::uint8_t>(i + 1);
}

bool LaneCodes::encode(std::u32string_view candidate, std::uint8_t* codes) const {
    bool coded = true;
    for (std::size_t k = 0; k < candidate.size(); ++k) {
        codes[k] = codes_.find(candidate[k]);
        coded = coded && codes[k] != 0;
    }
    std::fill(codes + candidate.size(), codes + stride_for(candidate.size()), std::uint8_t{0});
    return coded;
}

}  // namespace pelgar::measures::lanes
