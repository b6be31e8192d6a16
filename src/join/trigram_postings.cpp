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

TrigramPostings::TrigramPostings(const KeyGroups& keys) : TrigramPostings(keys, {}) {}

TrigramPostings::TrigramPostings(const KeyGroups& keys, std::span<const std::size_t> prefix) {
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

    // Each key's ranks, increasing, key after key.
    std::vector<std::uint32_t> listed;
    std::vector<std::size_t> listed_begins{0};
    std::vector<std::uint32_t> ranks;
    std::size_t group = 0;
    signatures_.assign(keys.count(), 0);
    each_key([&](std::uint32_t id) {
        ranks.clear();
        for (const TrigramElement& e : mine) ranks.push_back(rank_of(e));
        std::sort(ranks.begin(), ranks.end());
        while (id >= keys.first_key_of_length(group + 1)) ++group;
        const std::size_t kept = prefix.empty() ? ranks.size() : std::min(ranks.size(), prefix[group]);
        listed.insert(listed.end(), ranks.begin(), ranks.begin() + static_cast<std::ptrdiff_t>(kept));
        for (const std::uint32_t rank : ranks) signatures_[id] |= signature_bit(rank);
        listed_begins.resize(id + 1, listed_begins.back());
        listed_begins.push_back(listed.size());
    });
    listed_begins.resize(keys.count() + 1, listed_begins.back());
    auto each_entry = [&](auto&& visit) {
        for (std::uint32_t id = 0; id < keys.count(); ++id)
            for (std::size_t i = listed_begins[id]; i < listed_begins[id + 1]; ++i) visit(id, listed[i], i - listed_begins[id]);
    };

    // First the size of every list in entries, blocks and bytes; then the lists themselves.
    const std::size_t ranked = holders.size();
    counts_.assign(ranked + 1, 0);
    std::vector<std::size_t> byte_counts(ranked + 1, 0);
    std::vector<std::uint32_t> previous(ranked, 0);
    auto gap_bytes = [](std::uint32_t gap) {
        std::size_t count = 1;
        for (; gap >= 0x80; gap >>= 7) ++count;
        return count;
    };
    each_entry([&](std::uint32_t id, std::uint32_t rank, std::size_t) {
        const std::size_t at = counts_[rank + 1]++;
        byte_counts[rank + 1] += 1 + (at % kBlock == 0 ? 0 : gap_bytes(id - previous[rank]));
        previous[rank] = id;
    });
    block_begins_.assign(ranked + 1, 0);
    for (std::size_t rank = 0; rank < ranked; ++rank) {
        block_begins_[rank + 1] = block_begins_[rank] + (counts_[rank + 1] + kBlock - 1) / kBlock;
        counts_[rank + 1] += counts_[rank];
        byte_counts[rank + 1] += byte_counts[rank];
    }
    block_keys_.resize(block_begins_.back());
    block_offsets_.resize(block_begins_.back());
    bytes_.resize(byte_counts.back());
    std::vector<std::size_t> filled(ranked, 0);
    std::uint8_t* const out = bytes_.data();
    each_entry([&](std::uint32_t id, std::uint32_t rank, std::size_t place) {
        const std::size_t at = filled[rank]++;
        std::size_t& cursor = byte_counts[rank];
        if (at % kBlock == 0) {
            block_keys_[block_begins_[rank] + at / kBlock] = id;
            block_offsets_[block_begins_[rank] + at / kBlock] = cursor;
        } else {
            for (std::uint32_t gap = id - previous[rank];; gap >>= 7) {
                out[cursor++] = static_cast<std::uint8_t>(gap >= 0x80 ? (gap & 0x7F) | 0x80 : gap);
                if (gap < 0x80) break;
            }
        }
        out[cursor++] = static_cast<std::uint8_t>(std::min(place, kMaxPlace));
        previous[rank] = id;
    });
}

std::uint32_t TrigramPostings::rank_of(const TrigramElement& element) const noexcept {
    return slots_.empty() ? kAbsent : slots_[slot_of(element)].number;
}

std::size_t TrigramPostings::memory_bytes() const noexcept {
    return slots_.capacity() * sizeof(Slot) + (counts_.capacity() + block_begins_.capacity()) * sizeof(std::size_t) +
           block_keys_.capacity() * sizeof(std::uint32_t) + block_offsets_.capacity() * sizeof(std::uint64_t) +
           bytes_.capacity() + signatures_.capacity() * sizeof(std::uint64_t);
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
