#pragma once

#include <cstddef>
#include <cstdint>
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

// One entry of a posting list: a key that holds the element, and the element's place in
// that key's own elements in rank order (saturated at 255).
struct Posting {
    std::uint32_t key;
    std::uint8_t place;
};

// Which keys hold which trigram elements. Elements are ranked rarest first (by how many
// keys hold them); each rank's list holds its keys increasing, so a range of lengths is a
// range of each list. Immutable once built.
class TrigramPostings {
public:
    static constexpr std::uint32_t kAbsent = ~std::uint32_t{0};
    static constexpr std::size_t kMaxPlace = 255;

    // How many of a key's elements, rarest first, its lists hold: all, or a prefix.
    using PrefixSize = std::size_t (*)(const void* context, std::uint32_t key, std::size_t elements);

    TrigramPostings() = default;
    // Lists of every element of every key.
    explicit TrigramPostings(const KeyGroups& keys) : TrigramPostings(keys, nullptr, nullptr) {}
    // Lists of the first prefix_size(context, key, its element count) elements of each key;
    // ranks still count every element.
    TrigramPostings(const KeyGroups& keys, PrefixSize prefix_size, const void* context);

    std::size_t elements() const noexcept { return distinct_; }
    // The rank of an element, or kAbsent when no key holds it.
    std::uint32_t rank_of(const TrigramElement& element) const noexcept;
    // The keys holding the element of this rank, increasing.
    std::span<const std::uint32_t> keys(std::uint32_t rank) const noexcept {
        return std::span<const std::uint32_t>(keys_).subspan(begins_[rank], begins_[rank + 1] - begins_[rank]);
    }
    // Parallel to keys(rank): the element's place in each key's rank order.
    std::span<const std::uint8_t> places(std::uint32_t rank) const noexcept {
        return std::span<const std::uint8_t>(places_).subspan(begins_[rank], begins_[rank + 1] - begins_[rank]);
    }
    std::size_t entries() const noexcept { return keys_.size(); }
    std::size_t memory_bytes() const noexcept;

private:
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
    std::vector<std::size_t> begins_;  // elements() + 1 entries
    std::vector<std::uint32_t> keys_;
    std::vector<std::uint8_t> places_;
};

// Sets scratch.ranks to the ranks of a query's elements, increasing, after those of the
// elements no key holds (kAbsent).
void ranked_elements(const TrigramPostings& postings, std::u32string_view query, ElementScratch& scratch);

}  // namespace pelgar::join
