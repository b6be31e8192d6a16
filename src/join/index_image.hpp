#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "join/candidate_index.hpp"

namespace pelgar::join {

// A candidate index as bytes: its arrays back to back behind a header naming the format and
// this build's byte order and word size, so that a copy of it is read back by copying the
// arrays instead of preparing every key again.
std::string index_image(const CandidateIndex& index);

// The index an image holds; nullptr when the bytes are not a whole image of this format.
std::unique_ptr<CandidateIndex> index_from_image(std::string_view image);

}  // namespace pelgar::join
