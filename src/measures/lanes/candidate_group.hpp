#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "measures/lanes/lane_kernels.hpp"
#include "measures/lanes/lane_width.hpp"

namespace pelgar::measures {

// Short candidates gathered for one short query in lanes of one width and scored a block
// at a time by one vectorised pass, with the same results as ShortQuery::score one by one.
// The candidates come as character codes that the query's codes match (see LaneQuery);
// the query's data must outlive the group. One thread at a time.
class CandidateGroup {
public:
    // The most candidates of a block, in the narrowest lanes.
    static constexpr std::size_t kMaxLanes = lanes::kBlockBits / lanes::kWidthBits[0];

    CandidateGroup(const lanes::LaneQuery& query, std::size_t width, lanes::LaneKernel kernel);
    CandidateGroup(const CandidateGroup&) = delete;
    CandidateGroup& operator=(const CandidateGroup&) = delete;

    std::size_t width_bits() const noexcept { return lanes::kWidthBits[width_]; }
    std::size_t capacity() const noexcept { return lanes::kBlockBits / lanes::kWidthBits[width_]; }
    std::size_t size() const noexcept { return size_; }
    bool full() const noexcept { return size_ == capacity(); }

    // Room for the codes of the next candidate, of 1 to the width's characters, for the
    // caller to write; the group must not be full.
    std::uint8_t* add(std::size_t length) {
        std::uint8_t* slot = codes_ + size_ * lanes::kWidthBits[width_];
        clear(slot, width_);  // zeros after the candidate's codes
        common_length_ = size_ == 0 || length == common_length_ ? length : 0;
        lengths_[size_++] = static_cast<std::uint8_t>(length);
        return slot;
    }

    // The next candidate, of `length` characters, from its own codes (lanes::stride_for(length) bytes).
    void add_padded(const std::uint8_t* codes, std::size_t length) {
        std::uint8_t* slot = add(length);
        switch (lanes::width_for(length, length)) {
        case 0: std::memcpy(slot, codes, 8); break;
        case 1: std::memcpy(slot, codes, 16); break;
        case 2: std::memcpy(slot, codes, 32); break;
        default: std::memcpy(slot, codes, 64); break;
        }
    }

    // The scores of the candidates added, in their order, into scores[0] to scores[size() - 1];
    // scores has room for kMaxLanes, and the rest of it is overwritten. The group is empty afterwards.
    void score_into(double* scores);

    // The scores of a full block of candidates all of `length` characters whose codes lie
    // back to back at this width's stride, read where they are, with the block's mask rows
    // if made in advance; the group is untouched.
    void score_codes(const std::uint8_t* codes, std::size_t length, double* scores,
                     const lanes::BlockMasks* masks = nullptr) const {
        kernel_(query_, {codes, nullptr, length, masks}, scores);
    }

private:
    // Fixed-size clears, one for each width.
    static void clear(std::uint8_t* slot, std::size_t width) {
        switch (width) {
        case 0: std::memset(slot, 0, 8); break;
        case 1: std::memset(slot, 0, 16); break;
        case 2: std::memset(slot, 0, 32); break;
        default: std::memset(slot, 0, 64); break;
        }
    }

    lanes::LaneQuery query_;
    std::size_t width_;
    lanes::LaneKernel kernel_;
    std::size_t size_ = 0;
    std::size_t common_length_ = 0;  // of every candidate added, or 0
    alignas(64) std::uint8_t codes_[lanes::kBlockCodes] = {};
    std::uint8_t lengths_[kMaxLanes] = {};
};

}  // namespace pelgar::measures
