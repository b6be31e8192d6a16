#pragma once

#include <cstdint>
#include <string_view>

#include "join/key_groups.hpp"
#include "join/trigram_postings.hpp"

namespace pelgar::join {

// The key whose text is `text` (KeyGroups::kNoKey if none), met in the posting list of the
// text's rarest element among the keys of its length. Texts under three characters have no
// elements and are never found; for the others, `scratch` is left holding the text's ranked
// elements (ranked_elements), for a search of the same postings to reuse.
std::uint32_t own_key(const KeyGroups& keys, const TrigramPostings& postings, std::u32string_view text,
                      ElementScratch& scratch);

}  // namespace pelgar::join
