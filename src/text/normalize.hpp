#pragma once

#include <string>
#include <string_view>

namespace pelgar::text {

// Trim White_Space, full lowercase (with Final_Sigma), canonical decomposition,
// removal of every General_Category Mark, canonical composition. Unicode 17.0.
std::string normalize(std::string_view text);

// The same result as normalize(), as code points, written into a buffer the caller reuses.
void normalize_into(std::string_view text, std::u32string& out);

// The same code points, written from out on, which must have room for text.size() of them
// (never more than one per byte). Returns the end of what was written.
char32_t* normalize_into(std::string_view text, char32_t* out);

}  // namespace pelgar::text
