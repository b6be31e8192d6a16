#include "measures/lanes/candidate_group.hpp"

#include <algorithm>
#include <cstring>

namespace pelgar::measures {

CandidateGroup::CandidateGroup(const lanes::LaneQuery& query, std::size_t width, lanes::LaneKernel kernel)
    : query_(query), width_(width), kernel_(kernel) {}

void CandidateGroup::score_into(double* scores) {
    // Lanes past size() hold no candidate: no codes, and a length that keeps their masks in range.
    const std::size_t lanes = capacity();
    std::memset(codes_ + size_ * lanes::kWidthBits[width_], 0, (lanes - size_) * lanes::kWidthBits[width_]);
    std::fill(lengths_ + size_, lengths_ + lanes, std::uint8_t{1});
    kernel_(query_, {codes_, lengths_, common_length_, nullptr}, scores);
    size_ = 0;
}

}  // namespace pelgar::measures
