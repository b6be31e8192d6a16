#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "join/trigram_postings.hpp"

namespace pelgar::join {

// A set of key numbers that forgets only what it was given: clearing it costs the words
// it touched, not the size of the index.
class SeenKeys {
public:
    // Room for keys below `keys`; what was inserted stays.
    void prepare(std::size_t keys) {
        if (words_.size() * 64 < keys) words_.resize((keys + 63) / 64, 0);
    }
    // True when the key was not in the set; it is now.
    bool insert(std::uint32_t key) {
        std::uint64_t& word = words_[key >> 6];
        const std::uint64_t bit = std::uint64_t{1} << (key & 63);
        if (word & bit) return false;
        if (word == 0) touched_.push_back(key >> 6);
        word |= bit;
        return true;
    }
    bool contains(std::uint32_t key) const { return (words_[key >> 6] >> (key & 63)) & 1; }
    void clear() {
        for (const std::uint32_t w : touched_) words_[w] = 0;
        touched_.clear();
    }

private:
    std::vector<std::uint64_t> words_;
    std::vector<std::uint32_t> touched_;
};

// What one worker thread reuses from one search to the next, so that a search allocates
// nothing of the index's size and its buffers stay with the thread.
struct SearchScratch {
    SeenKeys seen;
    ElementScratch elements;
    std::u32string candidate;
    std::vector<std::uint8_t> allowed;  // by length group
    std::vector<std::size_t> need;      // by length group: fewest shared elements to reach the cutoff
    // Keys met in a posting list that passed the counting filters, to check and score.
    struct Candidate {
        std::uint32_t key;
        std::uint32_t length;
        std::uint32_t group;  // of its length
        std::size_t shared;   // at most this many elements shared with the query
    };
    std::vector<Candidate> pending;

    // This thread's scratch, made on its first search.
    static SearchScratch& of_this_thread() {
        thread_local SearchScratch scratch;
        return scratch;
    }
};

}  // namespace pelgar::join
