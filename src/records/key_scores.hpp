#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace pelgar::records {

// The scores of one field's keys against one query, kept while the query's search lasts:
// an open-addressing table that forgets only the slots it filled, so that clearing it
// after a query costs what the query put in, not the most any query ever did.
class KeyScores {
public:
    // The score of a key, or nullptr when it has none yet.
    const double* find(std::uint32_t key) const {
        if (slots_.empty()) return nullptr;
        for (std::size_t slot = start(key);; slot = (slot + 1) & (slots_.size() - 1)) {
            if (slots_[slot].key == key) return &slots_[slot].score;
            if (slots_[slot].key == kEmpty) return nullptr;
        }
    }
    // Gives a key its score, unless it has one.
    void add(std::uint32_t key, double score) {
        if (2 * (filled_.size() + 1) > slots_.size()) grow();
        std::size_t slot = start(key);
        while (slots_[slot].key != kEmpty) {
            if (slots_[slot].key == key) return;
            slot = (slot + 1) & (slots_.size() - 1);
        }
        slots_[slot] = {key, score};
        filled_.push_back(static_cast<std::uint32_t>(slot));
    }
    void clear() {
        for (const std::uint32_t slot : filled_) slots_[slot].key = kEmpty;
        filled_.clear();
    }

private:
    static constexpr std::uint32_t kEmpty = ~std::uint32_t{0};
    struct Slot {
        std::uint32_t key = kEmpty;
        double score = 0.0;
    };

    std::size_t start(std::uint32_t key) const {
        return static_cast<std::size_t>((key * 0x9E3779B97F4A7C15ull) >> 32) & (slots_.size() - 1);
    }
    void grow() {
        std::vector<Slot> old(std::max<std::size_t>(64, 2 * slots_.size()));
        old.swap(slots_);
        filled_.clear();
        for (const Slot& s : old)
            if (s.key != kEmpty) add(s.key, s.score);
    }

    std::vector<Slot> slots_;
    std::vector<std::uint32_t> filled_;  // slots in use
};

}  // namespace pelgar::records
