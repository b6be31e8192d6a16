#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "measures/lanes/lane_types.hpp"

namespace pelgar::measures::lanes {

// The mask rows of full blocks of a prepared candidate set (see BlockMasks), made once for
// all the queries that score the blocks where they lie, up to a budget of memory.
class PreparedMasks {
public:
    explicit PreparedMasks(std::size_t budget_bytes) : budget_(budget_bytes) {}

    // Makes the masks of the block whose codes (kBlockCodes bytes) start here; false, and
    // nothing made, once the budget is spent. Blocks are numbered from 0 in this order.
    bool add(const std::uint8_t* codes);
    // After the last add(): the masks of the i-th block, and the blocks after it in order.
    void finish();
    const BlockMasks* block(std::size_t i) const { return &blocks_[i]; }

private:
    std::size_t budget_;
    std::vector<std::uint8_t> slots_;      // 256 a block
    std::vector<std::uint8_t> rows_;       // a block's rows back to back, its zero row first
    std::vector<std::size_t> row_starts_;  // each block's first row in rows_
    std::vector<BlockMasks> blocks_;
};

}  // namespace pelgar::measures::lanes
