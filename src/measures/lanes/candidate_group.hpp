#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "measures/lanes/lane_kernels.hpp"
#include "measures/weighted_score.hpp"

namespace pelgar::measures {

// Short candidates gathered for one short query and scored kLanes at a time by one
// vectorised pass, with the same results as ShortQuery::score one by one. Holds a
// reference to the query, which must outlive it. One thread at a time.
class CandidateGroup {
public:
    static constexpr std::size_t kLanes = lanes::kGroupLanes;

    explicit CandidateGroup(const ShortQuery& query, lanes::LaneKernel kernel = lanes::chosen_lane_kernel());
    CandidateGroup(const CandidateGroup&) = delete;
    CandidateGroup& operator=(const CandidateGroup&) = delete;

    std::size_t size() const noexcept { return size_; }
    bool full() const noexcept { return size_ == kLanes; }

    // A candidate of 1 to ShortQuery::kMaxLength characters, into a group not yet full.
    void add(std::u32string_view candidate);

    // The scores of the candidates added, in their order, into scores[0] to scores[size() - 1];
    // the group is empty afterwards.
    void score_into(double* scores);

private:
    const ShortQuery& query_;
    lanes::LaneKernel kernel_;
    std::size_t size_ = 0;
    std::size_t lengths_[kLanes] = {};
    // By query row, then lane: bit k set where the lane's character k has that row. Row 0
    // collects the characters the query lacks and is never read.
    alignas(32) std::uint64_t eq_[ShortQuery::kMaxLength + 1][kLanes] = {};
};

}  // namespace pelgar::measures
