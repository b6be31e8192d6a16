#pragma once

#include <cstddef>

#include "measures/lanes/lane_types.hpp"

// Which lanes a pair takes. Not for the instruction sets' own files, which share no inline code.
namespace pelgar::measures::lanes {

// The narrowest width (an index into kWidthBits) for a query of n and a candidate of m
// characters, both 1 to kMaxLength.
inline std::size_t width_for(std::size_t n, std::size_t m) {
    const std::size_t longer = n > m ? n : m;
    return static_cast<std::size_t>(longer > 8) + (longer > 16) + (longer > 32);
}

// The bytes of a text's own codes as a prepared candidate set stores them: its characters,
// then zeros up to the narrowest lane that holds it.
inline std::size_t stride_for(std::size_t length) { return kWidthBits[width_for(length, length)]; }

}  // namespace pelgar::measures::lanes
