#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "join/prepared_texts.hpp"

namespace pelgar::join {

// Which texts hold which trigrams, by hash bucket: a text is listed once under every
// bucket that one of its trigrams falls into, in text order, as variable-length gaps.
// Texts that share buckets may share no trigram, never the reverse, so the counts
// made from it are upper bounds of the shared trigrams. Immutable once built.
class TrigramPostings {
public:
    TrigramPostings() = default;
    explicit TrigramPostings(const PreparedTexts& texts);

    // Adds to shared[t], for every text t in a bucket of one of the query's trigrams,
    // how many query trigrams fall into that bucket, and appends each text it first
    // touches (shared[t] was 0) to `touched`. No effect for a query under 3 characters.
    void count_shared(std::u32string_view query, std::vector<std::uint32_t>& shared,
                      std::vector<std::uint32_t>& touched) const;

    std::size_t memory_bytes() const noexcept;

private:
    std::size_t bucket_of(std::uint64_t trigram) const noexcept;

    std::uint64_t bucket_mask_ = 0;
    std::vector<std::uint64_t> starts_;  // bucket b: gaps_[starts_[b]] to gaps_[starts_[b + 1] - 1]
    std::vector<std::uint8_t> gaps_;     // 7 bits a byte, high bit set on every byte but a gap's last
};

}  // namespace pelgar::join
