#include "measures/lanes/block_masks.hpp"

namespace pelgar::measures::lanes {

namespace {

constexpr std::size_t kRowBytes = kBlockCodes / 8;
constexpr std::size_t kCodes = 256;

}  // namespace

bool PreparedMasks::add(const std::uint8_t* codes) {
    std::uint8_t slots[kCodes] = {};
    std::size_t rows = 1;  // the zero row
    for (std::size_t b = 0; b < kBlockCodes; ++b)
        if (codes[b] != 0 && slots[codes[b]] == 0) slots[codes[b]] = static_cast<std::uint8_t>(rows++);
    const std::size_t bytes = kCodes + rows * kRowBytes;
    if (slots_.size() + rows_.size() + bytes > budget_) return false;

    slots_.insert(slots_.end(), slots, slots + kCodes);
    const std::size_t start = rows_.size();
    row_starts_.push_back(start);
    rows_.resize(start + rows * kRowBytes, 0);
    for (std::size_t b = 0; b < kBlockCodes; ++b)
        if (codes[b] != 0) rows_[start + slots[codes[b]] * kRowBytes + b / 8] |= static_cast<std::uint8_t>(1u << (b % 8));
    return true;
}

void PreparedMasks::finish() {
    blocks_.clear();
    for (std::size_t i = 0; i < row_starts_.size(); ++i)
        blocks_.push_back({slots_.data() + kCodes * i, rows_.data() + row_starts_[i]});
}

}  // namespace pelgar::measures::lanes
