#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace pelgar::text {

// Maximal runs of characters outside the White_Space set, as views into text, in order.
std::vector<std::string_view> split_tokens(std::string_view text);

// The tokens sorted by their UTF-8 bytes (duplicates kept), joined with single spaces.
std::string token_sort_key(std::string_view normalized);
// The same key as code points.
std::u32string token_sort_key(std::u32string_view normalized);

// The distinct tokens sorted by their UTF-8 bytes, joined with single spaces.
std::string token_set_key(std::string_view normalized);
std::u32string token_set_key(std::u32string_view normalized);

}  // namespace pelgar::text
