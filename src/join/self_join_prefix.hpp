#pragma once

#include <cstddef>
#include <vector>

#include "join/key_groups.hpp"

namespace pelgar::join {

// How many of its rarest trigram elements each key of a self-join lists, by length group.
// A key of m characters is met only by probes of keys before it, of n <= m characters; with
// n >= 3 the pair reaches the threshold only sharing t = min_shared_trigrams(n, m, threshold)
// elements, and two sets sharing t elements share one within the rarest e - t + 1 of each
// (e elements). So the least t over those n sets the key's prefix: all of its elements when
// t is 0, none when no n can reach the threshold.
std::vector<std::size_t> self_join_prefixes(const KeyGroups& keys, double threshold);

}  // namespace pelgar::join
