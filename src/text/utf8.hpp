#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// UTF-8 helpers for text that is known to be valid (it comes from Python str objects).
namespace pelgar::text {

inline bool is_continuation_byte(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Decodes the character that starts at utf8[pos] and advances pos past it.
inline char32_t decode_next(std::string_view utf8, std::size_t& pos) {
    const auto lead = static_cast<unsigned char>(utf8[pos]);
    auto cont = [&](std::size_t k) { return static_cast<char32_t>(static_cast<unsigned char>(utf8[pos + k]) & 0x3F); };
    char32_t cp;
    if (lead < 0x80) {
        cp = lead;
        pos += 1;
    } else if (lead < 0xE0) {
        cp = (static_cast<char32_t>(lead & 0x1F) << 6) | cont(1);
        pos += 2;
    } else if (lead < 0xF0) {
        cp = (static_cast<char32_t>(lead & 0x0F) << 12) | (cont(1) << 6) | cont(2);
        pos += 3;
    } else {
        cp = (static_cast<char32_t>(lead & 0x07) << 18) | (cont(1) << 12) | (cont(2) << 6) | cont(3);
        pos += 4;
    }
    return cp;
}

// The same for text that is already code points, so that code can read either form.
inline char32_t decode_next(std::u32string_view code_points, std::size_t& pos) { return code_points[pos++]; }

// Replaces the contents of out with the code points of utf8.
inline void decode_utf8(std::string_view utf8, std::u32string& out) {
    out.clear();
    out.reserve(utf8.size());
    for (std::size_t pos = 0; pos < utf8.size();) out.push_back(decode_next(utf8, pos));
}

// Writes the code points of utf8 from out on, which has room for utf8.size() of them;
// returns the end of what was written.
inline char32_t* decode_utf8_into(std::string_view utf8, char32_t* out) {
    for (std::size_t pos = 0; pos < utf8.size();) *out++ = decode_next(utf8, pos);
    return out;
}

inline std::u32string decode_utf8(std::string_view utf8) {
    std::u32string out;
    decode_utf8(utf8, out);
    return out;
}

inline void append_utf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

inline std::string encode_utf8(std::u32string_view code_points) {
    std::string out;
    out.reserve(code_points.size());
    for (char32_t cp : code_points) append_utf8(cp, out);
    return out;
}

}  // namespace pelgar::text
