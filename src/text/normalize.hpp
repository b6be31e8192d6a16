#pragma once

#include <cstddef>
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

// Lowercasing and decomposition hand on at most this many code points per input code point,
// after marks are dropped (checked over every code point by the normaliser's tests).
inline constexpr std::size_t max_code_point_growth = 3;

// The same code points again, read from code points (no surrogates): out must have room for
// max_code_point_growth * text.size() of them. Text of ASCII only costs a scan and a copy.
char32_t* normalize_into(std::u32string_view text, char32_t* out);

// The same, as a new string of code points.
std::u32string normalize(std::u32string_view text);

// A buffer that keeps the normalised form of one text at a time, growing as texts need.
class NormalizedBuffer {
public:
    // The view lasts until the next call.
    std::u32string_view normalize(std::u32string_view text) {
        const std::size_t room = max_code_point_growth * text.size();
        if (buffer_.size() < room) buffer_.resize(room);
        const char32_t* const end = normalize_into(text, buffer_.data());
        return std::u32string_view(buffer_.data(), static_cast<std::size_t>(end - buffer_.data()));
    }

private:
    std::u32string buffer_;
};

}  // namespace pelgar::text
