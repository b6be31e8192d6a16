#include "join/trigram_postings.hpp"

#include <algorithm>
#include <bit>
#include <string>

#include "measures/trigram.hpp"
#include "text/utf8.hpp"

namespace pelgar::join {

namespace {

std::size_t gap_bytes(std::uint32_t gap) {
    std::size_t bytes = 1;
    while (gap >= 0x80) {
        gap >>= 7;
        ++bytes;
    }
    return bytes;
}

std::uint8_t* put_gap(std::uint32_t gap, std::uint8_t* out) {
    while (gap >= 0x80) {
        *out++ = static_cast<std::uint8_t>(gap | 0x80);
        gap >>= 7;
    }
    *out++ = static_cast<std::uint8_t>(gap);
    return out;
}

// The distinct buckets of a text's trigrams, in increasing order.
template <class BucketOf>
void distinct_buckets(std::u32string_view text, BucketOf&& bucket_of, std::vector<std::uint64_t>& out) {
    out.clear();
    for (const std::uint64_t trigram : measures::trigrams(text)) out.push_back(bucket_of(trigram));
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
}

}  // namespace

std::size_t TrigramPostings::bucket_of(std::uint64_t trigram) const noexcept {
    return static_cast<std::size_t>((trigram * 0x9E3779B97F4A7C15ull) >> 20) & bucket_mask_;
}

TrigramPostings::TrigramPostings(const PreparedTexts& texts) {
    // At most one bucket per text: collisions cost only precision, never correctness.
    bucket_mask_ = std::bit_floor(std::max<std::size_t>(texts.size(), 64)) - 1;
    const std::size_t buckets = bucket_mask_ + 1;
    const auto bucket = [this](std::uint64_t trigram) { return bucket_of(trigram); };

    // First pass: the bytes of every bucket's list; second pass: the gaps themselves.
    std::vector<std::uint32_t> last(buckets, 0);
    std::vector<std::uint64_t> bytes(buckets + 1, 0);
    std::vector<std::uint64_t> mine;
    std::u32string decoded;
    auto each_text = [&](auto&& visit) {
        std::fill(last.begin(), last.end(), 0);
        for (std::size_t t = 0; t < texts.size(); ++t) {
            if (texts.missing(t) || texts.length(t) < 3) continue;
            text::decode_utf8(texts.key(t), decoded);
            distinct_buckets(decoded, bucket, mine);
            // Gaps count from one before the first text, so none is 0.
            for (const std::uint64_t b : mine) {
                const auto position = static_cast<std::uint32_t>(t + 1);
                visit(b, position - last[b]);
                last[b] = position;
            }
        }
    };
    each_text([&](std::uint64_t b, std::uint32_t gap) { bytes[b + 1] += gap_bytes(gap); });
    for (std::size_t b = 0; b < buckets; ++b) bytes[b + 1] += bytes[b];
    starts_.assign(bytes.begin(), bytes.end());
    gaps_.resize(starts_.back());
    std::vector<std::uint64_t> cursor(starts_.begin(), starts_.end() - 1);
    each_text([&](std::uint64_t b, std::uint32_t gap) {
        cursor[b] = static_cast<std::uint64_t>(put_gap(gap, gaps_.data() + cursor[b]) - gaps_.data());
    });
}

void TrigramPostings::count_shared(std::u32string_view query, std::vector<std::uint32_t>& shared,
                                   std::vector<std::uint32_t>& touched) const {
    if (query.size() < 3 || starts_.empty()) return;
    std::vector<std::uint64_t> buckets;
    for (const std::uint64_t trigram : measures::trigrams(query)) buckets.push_back(bucket_of(trigram));
    std::sort(buckets.begin(), buckets.end());
    for (std::size_t i = 0; i < buckets.size();) {
        const std::uint64_t b = buckets[i];
        std::size_t j = i;
        while (j < buckets.size() && buckets[j] == b) ++j;
        const auto weight = static_cast<std::uint32_t>(j - i);
        i = j;
        const std::uint8_t* p = gaps_.data() + starts_[b];
        const std::uint8_t* const end = gaps_.data() + starts_[b + 1];
        std::uint32_t position = 0;
        while (p < end) {
            std::uint32_t gap = 0;
            for (int shift = 0;; shift += 7) {
                const std::uint8_t byte = *p++;
                gap |= static_cast<std::uint32_t>(byte & 0x7F) << shift;
                if (byte < 0x80) break;
            }
            position += gap;
            std::uint32_t& count = shared[position - 1];
            if (count == 0) touched.push_back(position - 1);
            count += weight;
        }
    }
}

std::size_t TrigramPostings::memory_bytes() const noexcept {
    return starts_.capacity() * sizeof(std::uint64_t) + gaps_.capacity();
}

}  // namespace pelgar::join
