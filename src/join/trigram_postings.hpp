#pragma once

#include <cstddef>
#include <cstdint>
#include <algorithm>
#include <span>
#include <string_view>
#include <vector>

#include "join/key_groups.hpp"

namespace pelgar::join {

// A key's trigrams as a set: each trigram with its occurrence number (0 for the first), so
// that two keys share as many elements as their trigram multisets have in common.
struct TrigramElement {
    std::uint64_t trigram;
    std::uint32_t occurrence;
};

// Buffers for a text's elements, kept from one text to the next.
struct ElementScratch {
    std::vector<std::uint64_t> packed;
    std::vector<TrigramElement> elements;
    std::vector<std::uint32_t> ranks;
};

// Sets scratch.elements to the elements of a text in order of trigram, then occurrence;
// none under 3 characters.
void trigram_elements(std::u32string_view text, ElementScratch& scratch);

// Which keys hold which trigram elements. Elements are ranked rarest first (by how many
// keys hold them); each rank's list holds its keys increasing, so a range of lengths is a
// range of each list, and with each key the element's place in that key's own elements in
// rank order (saturated at 255). A key may list only its rarest elements (its prefix), how
// many set by its length: a search that needs a key to share t of its elements finds it
// from the rarest e - t + 1 of its e. A list is stored in blocks of kBlock entries: the first
// key of each block apart, then each entry as the gap from the key before (7 bits a byte)
// and its place; a search starts at the block where its range of keys begins. Immutable
// once built.
class TrigramPostings {
public:
    static constexpr std::uint32_t kAbsent = ~std::uint32_t{0};
    static constexpr std::size_t kMaxPlace = 255;

    TrigramPostings() = default;
    // Every element of every key.
    explicit TrigramPostings(const KeyGroups& keys);
    // Of a key in length group g, its prefix(g) rarest elements (all when fewer).
    TrigramPostings(const KeyGroups& keys, std::span<const std::size_t> prefix);

    std::size_t elements() const noexcept { return distinct_; }
    // The rank of an element, or kAbsent when no key holds it.
    std::uint32_t rank_of(const TrigramElement& element) const noexcept;
    // A key's elements folded into 64 bits (bit signature_bit(rank) for each): an element
    // whose bit the query lacks is not the query's, so a key shares at most its element
    // count less the bits it has that the query lacks.
    std::uint64_t signature(std::uint32_t key) const noexcept { return signatures_[key]; }
    void prefetch_signature(std::uint32_t key) const noexcept { __builtin_prefetch(signatures_.data() + key); }
    static std::uint64_t signature_bit(std::uint32_t rank) noexcept {
        return std::uint64_t{1} << ((rank * 0x9E3779B9u) >> 26);
    }

    // How many keys hold the element of this rank.
    std::size_t size(std::uint32_t rank) const noexcept { return counts_[rank + 1] - counts_[rank]; }
    std::size_t entries() const noexcept { return counts_.empty() ? 0 : counts_.back(); }

    // visit(key, place) for the keys from `low` up to (not including) `high` that hold the
    // element of this rank, increasing.
    template <class Visit>
    void each(std::uint32_t rank, std::uint32_t low, std::uint32_t high, Visit&& visit) const {
        const std::uint32_t* const first = block_keys_.data() + block_begins_[rank];
        const std::uint32_t* const last = block_keys_.data() + block_begins_[rank + 1];
        const std::uint32_t* block = std::upper_bound(first, last, low);
        if (block != first) --block;
        std::size_t entries_left = size(rank) - static_cast<std::size_t>(block - first) * kBlock;
        for (; block != last && *block < high; ++block) {
            const std::uint8_t* p = bytes_.data() + block_offsets_[static_cast<std::size_t>(block - block_keys_.data())];
            std::uint32_t key = *block;
            const std::size_t count = std::min(entries_left, kBlock);
            entries_left -= count;
            for (std::size_t i = 0; i < count; ++i) {
                if (i != 0) {
                    std::uint32_t gap = 0;
                    for (unsigned shift = 0;; shift += 7) {
                        const std::uint8_t byte = *p++;
                        gap |= static_cast<std::uint32_t>(byte & 0x7F) << shift;
                        if (byte < 0x80) break;
                    }
                    key += gap;
                }
                const std::uint8_t place = *p++;
                if (key >= high) return;
                if (key >= low) visit(key, place);
            }
        }
    }

    std::size_t memory_bytes() const noexcept;

private:
    friend struct IndexImage;

    // An open-addressing table from element to a number: first the order in which the build
    // met it, then its rank. An empty slot holds kAbsent.
    struct Slot {
        std::uint64_t trigram = 0;
        std::uint32_t occurrence = 0;
        std::uint32_t number = kAbsent;
    };
    std::size_t slot_of(const TrigramElement& element) const noexcept;
    // The number of an element, given the next free one if the element is new.
    std::uint32_t insert(const TrigramElement& element);

    std::vector<Slot> slots_;
    std::size_t distinct_ = 0;
    static constexpr std::size_t kBlock = 16;

    std::vector<std::size_t> counts_;        // elements() + 1 entries: running count of entries
    std::vector<std::size_t> block_begins_;  // elements() + 1 entries into the block arrays
    std::vector<std::uint32_t> block_keys_;
    std::vector<std::uint64_t> block_offsets_;  // into bytes_
    std::vector<std::uint8_t> bytes_;
    std::vector<std::uint64_t> signatures_;  // by key
};

// Sets scratch.ranks to the ranks of a query's elements, increasing, after those of the
// elements no key holds (kAbsent).
void ranked_elements(const TrigramPostings& postings, std::u32string_view query, ElementScratch& scratch);

}  // namespace pelgar::join
