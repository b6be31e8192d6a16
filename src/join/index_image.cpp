#include "join/index_image.hpp"

#include <cstdint>
#include <cstring>
#include <type_traits>
#include <vector>

namespace pelgar::join {

namespace {

// Format, then a number whose bytes show the byte order, then the size of a size_t.
constexpr std::string_view kMagic = "pelgar-index-1";
constexpr std::uint32_t kByteOrder = 0x01020304u;

class Writer {
public:
    template <class T>
    void value(const T& v) {
        static_assert(std::is_trivially_copyable_v<T>);
        bytes_.append(reinterpret_cast<const char*>(&v), sizeof(T));
    }
    template <class Items>
    void items(const Items& items) {
        value(static_cast<std::uint64_t>(items.size()));
        bytes_.append(reinterpret_cast<const char*>(items.data()), items.size() * sizeof(items[0]));
    }
    void raw(std::string_view text) { bytes_.append(text); }
    std::string take() && { return std::move(bytes_); }

private:
    std::string bytes_;
};

class Reader {
public:
    explicit Reader(std::string_view bytes) : rest_(bytes) {}

    bool raw(std::string_view expected) {
        if (rest_.substr(0, expected.size()) != expected) return false;
        rest_.remove_prefix(expected.size());
        return true;
    }
    template <class T>
    bool value(T& v) {
        static_assert(std::is_trivially_copyable_v<T>);
        if (rest_.size() < sizeof(T)) return false;
        std::memcpy(&v, rest_.data(), sizeof(T));
        rest_.remove_prefix(sizeof(T));
        return true;
    }
    template <class Items>
    bool items(Items& items) {
        std::uint64_t count = 0;
        if (!value(count) || count > rest_.size() / sizeof(items[0])) return false;
        items.resize(count);
        std::memcpy(items.data(), rest_.data(), count * sizeof(items[0]));
        rest_.remove_prefix(count * sizeof(items[0]));
        return true;
    }
    bool done() const { return rest_.empty(); }

private:
    std::string_view rest_;
};

template <class Numbers>
bool increasing_to(const Numbers& numbers, std::size_t last) {
    for (std::size_t i = 1; i < numbers.size(); ++i)
        if (numbers[i] < numbers[i - 1]) return false;
    return numbers.empty() ? last == 0 : numbers.back() == last;
}

}  // namespace

// Reads and writes the private arrays of the index and its parts.
struct IndexImage {
    static void write(Writer& out, const KeyGroups& keys) {
        out.items(keys.key_chars_);
        out.items(keys.key_ends_);
        out.items(keys.row_begins_);
        out.items(keys.rows_);
        out.value(static_cast<std::uint64_t>(keys.row_count_));
        out.items(keys.lengths_);
        out.items(keys.length_begins_);
    }

    static void write(Writer& out, const TrigramPostings& postings) {
        out.items(postings.slots_);
        out.value(static_cast<std::uint64_t>(postings.distinct_));
        out.items(postings.counts_);
        out.items(postings.block_begins_);
        out.items(postings.block_keys_);
        out.items(postings.block_offsets_);
        out.items(postings.bytes_);
        out.items(postings.signatures_);
    }

    // The arrays, and the few facts about their sizes that the searches rely on.
    static bool read(Reader& in, KeyGroups& keys) {
        std::uint64_t rows = 0;
        if (!(in.items(keys.key_chars_) && in.items(keys.key_ends_) && in.items(keys.row_begins_) &&
              in.items(keys.rows_) && in.value(rows) && in.items(keys.lengths_) && in.items(keys.length_begins_)))
            return false;
        keys.row_count_ = rows;
        const std::size_t count = keys.key_ends_.size();
        if (!increasing_to(keys.key_ends_, keys.key_chars_.size()) || keys.row_begins_.size() != count + 1 ||
            !increasing_to(keys.row_begins_, keys.rows_.size()) || keys.row_begins_.front() != 0 ||
            keys.lengths_.size() + 1 != keys.length_begins_.size() ||
            !increasing_to(keys.length_begins_, count))
            return false;
        for (const std::uint32_t row : keys.rows_)
            if (row >= rows) return false;
        return true;
    }

    static bool read(Reader& in, TrigramPostings& postings, std::size_t keys) {
        std::uint64_t distinct = 0;
        if (!(in.items(postings.slots_) && in.value(distinct) && in.items(postings.counts_) &&
              in.items(postings.block_begins_) && in.items(postings.block_keys_) &&
              in.items(postings.block_offsets_) && in.items(postings.bytes_) && in.items(postings.signatures_)))
            return false;
        postings.distinct_ = distinct;
        if (postings.counts_.size() != distinct + 1 || postings.block_begins_.size() != distinct + 1 ||
            !increasing_to(postings.block_begins_, postings.block_keys_.size()) ||
            postings.block_offsets_.size() != postings.block_keys_.size() || postings.signatures_.size() != keys ||
            (postings.slots_.size() & (postings.slots_.size() - 1)) != 0 || 2 * distinct > postings.slots_.size())
            return false;
        std::size_t taken = 0;
        for (const TrigramPostings::Slot& slot : postings.slots_) {
            if (slot.number == TrigramPostings::kAbsent) continue;
            if (slot.number >= distinct) return false;
            ++taken;
        }
        for (const std::uint64_t offset : postings.block_offsets_)
            if (offset >= postings.bytes_.size()) return false;
        return taken == distinct;
    }

    static std::string write(const CandidateIndex& index) {
        Writer out;
        out.raw(kMagic);
        out.value(kByteOrder);
        out.value(static_cast<std::uint8_t>(sizeof(std::size_t)));
        out.value(static_cast<std::uint8_t>(index.scorer_));
        write(out, index.keys_);
        write(out, index.postings_);
        return std::move(out).take();
    }

    static std::unique_ptr<CandidateIndex> read(std::string_view image) {
        Reader in(image);
        std::uint32_t order = 0;
        std::uint8_t word = 0, scorer = 0;
        if (!(in.raw(kMagic) && in.value(order) && order == kByteOrder && in.value(word) &&
              word == sizeof(std::size_t) && in.value(scorer) && scorer <= static_cast<std::uint8_t>(Scorer::token_set)))
            return nullptr;
        std::unique_ptr<CandidateIndex> index(new CandidateIndex(static_cast<Scorer>(scorer)));
        if (!read(in, index->keys_) || !read(in, index->postings_, index->keys_.count()) || !in.done()) return nullptr;
        return index;
    }
};

std::string index_image(const CandidateIndex& index) { return IndexImage::write(index); }

std::unique_ptr<CandidateIndex> index_from_image(std::string_view image) { return IndexImage::read(image); }

}  // namespace pelgar::join
