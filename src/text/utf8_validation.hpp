#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

// Checks UTF-8 from outside the interpreter (Arrow buffers), which nothing has validated yet.
namespace pelgar::text {

// Where a text stops being UTF-8: the bytes [start, end) that cannot be decoded, and why,
// in the words of Python's own decoder. start == npos for valid text.
struct Utf8Fault {
    static constexpr std::size_t npos = static_cast<std::size_t>(-1);
    std::size_t start = npos;
    std::size_t end = npos;
    const char* reason = "";
    bool valid() const noexcept { return start == npos; }
};

namespace detail {

inline bool continuation_in(unsigned char byte, unsigned char low, unsigned char high) {
    return byte >= low && byte <= high;
}

}  // namespace detail

// The first fault of utf8 (overlong forms, surrogates and code points past U+10FFFF are
// faults), with Python's start, end and reason for it.
inline Utf8Fault first_utf8_fault(std::string_view utf8) {
    const auto* bytes = reinterpret_cast<const unsigned char*>(utf8.data());
    const std::size_t size = utf8.size();
    std::size_t pos = 0;
    while (pos < size) {
        // Names are mostly ASCII: eight bytes at a time while no high bit is set.
        if (pos + 8 <= size) {
            std::uint64_t word;
            std::memcpy(&word, bytes + pos, 8);
            if ((word & 0x8080808080808080ULL) == 0) {
                pos += 8;
                continue;
            }
        }
        const unsigned char lead = bytes[pos];
        if (lead < 0x80) {
            ++pos;
            continue;
        }
        std::size_t length;
        unsigned char low = 0x80, high = 0xBF;  // the allowed range of the second byte
        if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else {
            return {pos, pos + 1, "invalid start byte"};
        }
        for (std::size_t k = 1; k < length; ++k) {
            if (pos + k >= size) return {pos, size, "unexpected end of data"};
            const unsigned char next = bytes[pos + k];
            const bool fits = k == 1 ? detail::continuation_in(next, low, high) : detail::continuation_in(next, 0x80, 0xBF);
            if (!fits) return {pos, pos + k, "invalid continuation byte"};
        }
        pos += length;
    }
    return {};
}

}  // namespace pelgar::text
