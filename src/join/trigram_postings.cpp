#include "join/trigram_postings.hpp"

#include <algorithm>
#include <numeric>
#include <string>

#include "measures/trigram.hpp"
#include "text/utf8.hpp"

namespace pelgar::join {

namespace {

bool element_less(const TrigramElement& x, const TrigramElement& y) {
    return x.trigram != y.trigram ? x.trigram < y.trigram : x.occurrence < y.occurrence;
}

}  // namespace

void trigram_elements(std::u32string_view text, ElementScratch& scratch) {
    std::vector<TrigramElement>& out = scratch.elements;
    measures::trigrams(text, scratch.packed);
    out.clear();
    for (const std::uint64_t trigram : scratch.packed) out.push_back({trigram, 0});
    std::sort(out.begin(), out.end(), element_less);
    for (std::size_t i = 1; i < out.size(); ++i)
        if (out[i].trigram == out[i - 1].trigram) out[i].occurrence = out[i - 1].occurrence + 1;
}

std::size_t TrigramPostings::slot_of(const TrigramElement& element) const noexcept {
    const std::size_t mask = slots_.size() - 1;
    std::size_t slot = static_cast<std::size_t>(((element.trigram ^ (std::uint64_t{element.occurrence} << 63)) *
                                                 0x9E3779B97F4A7C15ull) >> 32) & mask;
    while (slots_[slot].number != kAbsent &&
           (slots_[slot].trigram != element.trigram || slots_[slot].occurrence != element.occurrence))
        slot = (slot + 1) & mask;
    return slot;
}

std::uint32_t TrigramPostings::insert(const TrigramElement& element) {
    if (2 * (distinct_ + 1) > slots_.size()) {
        std::vector<Slot> old(std::max<std::size_t>(64, 2 * slots_.size()));
        old.swap(slots_);
        for (const Slot& s : old)
            if (s.number != kAbsent) slots_[slot_of({s.trigram, s.occurrence})] = s;
    }
    Slot& slot = slots_[slot_of(element)];
    if (slot.number == kAbsent) slot = {element.trigram, element.occurrence, static_cast<std::uint32_t>(distinct_++)};
    return slot.number;
}

TrigramPostings::TrigramPostings(const KeyGroups& keys, PrefixSize prefix_size, const void* context) {
    // Two passes over the keys' elements: the first numbers them and counts their keys,
    // the second fills the lists in key order with each key's elements in rank order.
    ElementScratch scratch;
    const std::vector<TrigramElement>& mine = scratch.elements;
    std::u32string decoded;
    auto each_key = [&](auto&& visit) {
        for (std::size_t id = 0; id < keys.count(); ++id) {
            if (keys.length(id) < 3) continue;
            text::decode_utf8(keys.key(id), decoded);
            trigram_elements(decoded, scratch);
            visit(static_cast<std::uint32_t>(id));
        }
    };
    std::vector<std::uint32_t> holders;
    each_key([&](std::uint32_t) {
        for (const TrigramElement& e : mine) {
            const std::uint32_t number = insert(e);
            if (number == holders.size()) holders.push_back(0);
            ++holders[number];
        }
    });

    // Rarest first; equal counts in the order first met, so the order is fixed.
    std::vector<std::uint32_t> by_rarity(holders.size());
    std::iota(by_rarity.begin(), by_rarity.end(), 0u);
    std::stable_sort(by_rarity.begin(), by_rarity.end(),
                     [&](std::uint32_t a, std::uint32_t b) { return holders[a] < holders[b]; });
    std::vector<std::uint32_t> rank_of_number(holders.size());
    for (std::size_t rank = 0; rank < by_rarity.size(); ++rank) rank_of_number[by_rarity[rank]] = static_cast<std::uint32_t>(rank);
    for (Slot& s : slots_)
        if (s.number != kAbsent) s.number = rank_of_number[s.number];

    std::vector<std::uint32_t> ranks;
    auto listed = [&](std::uint32_t id, auto&& visit) {
        ranks.clear();
        for (const TrigramElement& e : mine) ranks.push_back(rank_of(e));
        std::sort(ranks.begin(), ranks.end());
        const std::size_t size = prefix_size ? std::min(ranks.size(), prefix_size(context, id, ranks.size())) : ranks.size();
        for (std::size_t place = 0; place < size; ++place) visit(ranks[place], place);
    };
    begins_.assign(holders.size() + 1, 0);
    if (prefix_size) {
        each_key([&](std::uint32_t id) { listed(id, [&](std::uint32_t rank, std::size_t) { ++begins_[rank + 1]; }); });
    } else {
        for (std::size_t rank = 0; rank < by_rarity.size(); ++rank) begins_[rank + 1] = holders[by_rarity[rank]];
    }
    for (std::size_t rank = 0; rank < by_rarity.size(); ++rank) begins_[rank + 1] += begins_[rank];
    keys_.resize(begins_.back());
    places_.resize(begins_.back());
    std::vector<std::size_t> fill(begins_.begin(), begins_.end() - 1);
    each_key([&](std::uint32_t id) {
        listed(id, [&](std::uint32_t rank, std::size_t place) {
            keys_[fill[rank]] = id;
            places_[fill[rank]++] = static_cast<std::uint8_t>(std::min(place, kMaxPlace));
        });
    });
}

std::uint32_t TrigramPostings::rank_of(const TrigramElement& element) const noexcept {
    return slots_.empty() ? kAbsent : slots_[slot_of(element)].number;
}

std::size_t TrigramPostings::memory_bytes() const noexcept {
    return slots_.capacity() * sizeof(Slot) + keys_.capacity() * sizeof(std::uint32_t) +
           begins_.capacity() * sizeof(std::size_t) + places_.capacity();
}

void ranked_elements(const TrigramPostings& postings, std::u32string_view query, ElementScratch& scratch) {
    trigram_elements(query, scratch);
    std::vector<std::uint32_t>& ranks = scratch.ranks;
    ranks.clear();
    for (const TrigramElement& e : scratch.elements) ranks.push_back(postings.rank_of(e));
    // kAbsent sorts last; moved to the front, where they cost nothing and shorten the prefix.
    std::sort(ranks.begin(), ranks.end());
    const auto absent = std::find(ranks.begin(), ranks.end(), TrigramPostings::kAbsent);
    std::rotate(ranks.begin(), absent, ranks.end());
}

}  // namespace pelgar::join
