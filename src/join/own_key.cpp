#include "join/own_key.hpp"

#include <string>

#include "text/utf8.hpp"

namespace pelgar::join {

std::uint32_t own_key(const KeyGroups& keys, const TrigramPostings& postings, std::u32string_view text,
                      ElementScratch& scratch) {
    if (text.size() < 3) return KeyGroups::kNoKey;
    ranked_elements(postings, text, scratch);
    const std::size_t group = keys.length_group_at_least(text.size());
    if (group == keys.length_count() || keys.length_at(group) != text.size()) return KeyGroups::kNoKey;
    // an element no key holds comes first: then no key is the text
    if (scratch.ranks.empty() || scratch.ranks[0] == TrigramPostings::kAbsent) return KeyGroups::kNoKey;
    std::uint64_t signature = 0;
    for (const std::uint32_t rank : scratch.ranks) signature |= TrigramPostings::signature_bit(rank);
    const std::string wanted = text::encode_utf8(text);
    std::uint32_t found = KeyGroups::kNoKey;
    // the text's key holds the same elements: the list's element is its rarest too (place 0),
    // and its signature is the text's
    postings.each(scratch.ranks[0], keys.first_key_of_length(group), keys.first_key_of_length(group + 1),
                  [&](std::uint32_t key, std::uint8_t place) {
                      if (found == KeyGroups::kNoKey && place == 0 && postings.signature(key) == signature &&
                          keys.key(key) == wanted)
                          found = key;
                  });
    return found;
}

}  // namespace pelgar::join
