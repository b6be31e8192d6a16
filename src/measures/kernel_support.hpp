#pragma once

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <type_traits>
#include <vector>

// Machinery that the measure kernels share: bit helpers, one step of the bit-parallel
// edit distance, common affixes, small-buffer storage and the character-match table.
namespace pelgar::measures::kernel {

// Bits lo..63 set; lo < 64.
inline std::uint64_t bits_from(std::size_t lo) { return ~std::uint64_t{0} << lo; }
// Bits 0..hi-1 set; hi <= 64.
inline std::uint64_t bits_below(std::size_t hi) { return hi >= 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << hi) - 1; }
// The lowest set bit of x, 0 for x == 0; without a branch, since matches are not predictable.
inline std::uint64_t lowest_bit(std::uint64_t x) { return x & (~x + 1); }

// popcount(plus) - popcount(minus), for the baseline instruction set that has no popcount:
// per-byte counts of both, offset so that one multiply adds up all eight differences.
inline std::int64_t count_difference(std::uint64_t plus, std::uint64_t minus) {
    auto byte_counts = [](std::uint64_t x) {
        x = x - ((x >> 1) & 0x5555555555555555ull);
        x = (x & 0x3333333333333333ull) + ((x >> 2) & 0x3333333333333333ull);
        return (x + (x >> 4)) & 0x0F0F0F0F0F0F0F0Full;  // each byte 0..8
    };
    const std::uint64_t offset = byte_counts(plus) + (0x0808080808080808ull - byte_counts(minus));  // bytes 0..16
    return static_cast<std::int64_t>((offset * 0x0101010101010101ull) >> 56) - 64;
}

// The horizontal steps out of one column of the distance table, before the shift.
struct HorizontalSteps {
    std::uint64_t hp;
    std::uint64_t hn;
};

// One column of the bit-parallel edit distance (Myers, Hyyrö) for a pattern of at most 64
// rows: bit i of vp / vn is a +1 / -1 vertical step into row i + 1. Every operation
// carries information only towards higher bits, so bits above the pattern are harmless.
inline HorizontalSteps myers_step(std::uint64_t eq, std::uint64_t& vp, std::uint64_t& vn) {
    const std::uint64_t xv = eq | vn;
    const std::uint64_t xh = (((eq & vp) + vp) ^ vp) | eq;
    const std::uint64_t hp = vn | ~(xh | vp);
    const std::uint64_t hn = vp & xh;
    const std::uint64_t hp_shifted = (hp << 1) | 1;  // first row: D[0][j] = j
    const std::uint64_t hn_shifted = hn << 1;
    vp = hn_shifted | ~(xv | hp_shifted);
    vn = hp_shifted & xv;
    return {hp, hn};
}

struct Affixes {
    std::size_t prefix;
    std::size_t suffix;
};

// Lengths of the common prefix and of the common suffix of what the prefix leaves.
inline Affixes common_affixes(std::u32string_view a, std::u32string_view b) {
    const std::size_t shorter = std::min(a.size(), b.size());
    std::size_t prefix = 0;
    while (prefix < shorter && a[prefix] == b[prefix]) ++prefix;
    std::size_t suffix = 0;
    while (prefix + suffix < shorter && a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix]) ++suffix;
    return {prefix, suffix};
}

// Room for a number of trivially copyable T: inline up to N, on the heap beyond. Only the
// part in use is ever written or copied, so a large N costs nothing when unused.
template <class T, std::size_t N>
class SmallBuffer {
    static_assert(std::is_trivially_copyable_v<T>);

public:
    SmallBuffer() noexcept {}
    SmallBuffer(const SmallBuffer& other) { std::memcpy(reset(other.size_), other.data(), other.size_ * sizeof(T)); }
    SmallBuffer& operator=(const SmallBuffer& other) {
        if (this != &other) std::memcpy(reset(other.size_), other.data(), other.size_ * sizeof(T));
        return *this;
    }

    // Room for exactly `count` elements, their values unspecified.
    T* reset(std::size_t count) {
        if (count > N && count > heap_capacity_) {
            heap_ = std::make_unique_for_overwrite<T[]>(count);
            heap_capacity_ = count;
        }
        size_ = count;
        return data();
    }

    T* data() noexcept { return size_ <= N ? inline_ : heap_.get(); }
    const T* data() const noexcept { return size_ <= N ? inline_ : heap_.get(); }
    std::size_t size() const noexcept { return size_; }

private:
    std::size_t size_ = 0;
    T inline_[N];
    std::unique_ptr<T[]> heap_;
    std::size_t heap_capacity_ = 0;
};

// Characters to small integers (rows): Latin-1 looked up directly, the other code points
// in an open-addressed table kept at most half full. Row 0 means "absent".
template <class Row>
class CharTable {
public:
    CharTable() { clear_slots(kFirstSlots); }

    Row find(char32_t c) const { return c < 256 ? latin1_[c] : find_other(c); }

    // The row of c for the caller to set: 0 when c was absent, after which c is present.
    Row& entry(char32_t c) { return c < 256 ? latin1_[c] : entry_other(c); }

private:
    struct Slot {
        char32_t key;  // 0 marks an empty slot: 0 is Latin-1 and never stored here
        Row row;
    };
    static constexpr std::size_t kFirstSlots = 8;

    static std::size_t home(char32_t c, std::size_t mask) {
        return static_cast<std::size_t>((std::uint64_t{c} * 0x9E3779B97F4A7C15ull) >> 32) & mask;
    }

    // The slot that holds c, or the empty slot where it would go.
    std::size_t probe(char32_t c) const {
        const Slot* slots = slots_.data();
        std::size_t i = home(c, mask_);
        while (slots[i].key != c && slots[i].key != 0) i = (i + 1) & mask_;
        return i;
    }

    Row find_other(char32_t c) const {
        const Slot& slot = slots_.data()[probe(c)];
        return slot.key == c ? slot.row : Row{0};
    }

    Row& entry_other(char32_t c) {
        std::size_t i = probe(c);
        if (slots_.data()[i].key == 0) {
            if (2 * (others_ + 1) > mask_ + 1) {
                grow();
                i = probe(c);
            }
            slots_.data()[i] = Slot{c, Row{0}};
            ++others_;
        }
        return slots_.data()[i].row;
    }

    void clear_slots(std::size_t count) {
        std::fill_n(slots_.reset(count), count, Slot{0, Row{0}});
        mask_ = count - 1;
    }

    void grow() {
        const std::vector<Slot> old(slots_.data(), slots_.data() + mask_ + 1);
        clear_slots(2 * old.size());
        for (const Slot& slot : old)
            if (slot.key != 0) slots_.data()[probe(slot.key)] = slot;
    }

    std::array<Row, 256> latin1_{};
    std::size_t mask_ = 0;
    std::size_t others_ = 0;
    SmallBuffer<Slot, 128> slots_;  // 64 characters at most half full stay inline
};

}  // namespace pelgar::measures::kernel
