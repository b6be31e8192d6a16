#include "measures/lanes/candidate_group.hpp"

#include <bit>
#include <cstring>

#include "measures/kernel_support.hpp"

namespace pelgar::measures {

CandidateGroup::CandidateGroup(const ShortQuery& query, lanes::LaneKernel kernel) : query_(query), kernel_(kernel) {}

void CandidateGroup::add(std::u32string_view candidate) {
    const std::size_t lane = size_++;
    lengths_[lane] = candidate.size();
    for (std::size_t k = 0; k < candidate.size(); ++k) eq_[query_.row_of(candidate[k])][lane] |= std::uint64_t{1} << k;
}

void CandidateGroup::score_into(double* scores) {
    const std::size_t n = query_.length();
    lanes::LaneInput input{eq_, {}, {}};
    for (std::size_t lane = 0; lane < kLanes; ++lane) {
        // Lanes past size() hold no candidate; any length keeps their masks in range.
        const std::size_t window = match_window(n, lane < size_ ? lengths_[lane] : 1);
        input.window_start[lane] = kernel::bits_from(window);
        input.window_below[lane] = kernel::bits_below(window + 1);
    }
    lanes::LaneCounts counts;
    kernel_(query_.lane_query(), input, counts);

    for (std::size_t lane = 0; lane < size_; ++lane) {
        const std::size_t m = lengths_[lane];
        const std::uint64_t in_candidate = kernel::bits_below(m);
        const auto distance = static_cast<std::size_t>(static_cast<std::int64_t>(n) +
                                                       kernel::count_difference(counts.vp[lane] & in_candidate,
                                                                                counts.vn[lane] & in_candidate));
        const std::size_t matches = n - counts.unmatched[lane];
        const MergedCounts merged{distance, matches, counts.mismatched[lane],
                                  static_cast<std::size_t>(std::countr_one(counts.diagonal[lane])),
                                  n - counts.untrigrammed[lane]};
        scores[lane] = query_.score_of(merged, m);
    }
    std::memset(eq_, 0, sizeof(eq_[0]) * (query_.distinct_characters() + 1));
    size_ = 0;
}

}  // namespace pelgar::measures
