#pragma once

// Turning libFuzzer's bytes into the inputs of the targets, and reporting a finding.

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

namespace pelgar::fuzz {

// Stops the run with a message; libFuzzer saves the input that led here.
[[noreturn]] inline void fail(const char* what) {
    std::fprintf(stderr, "FUZZ FINDING: %s\n", what);
    std::abort();
}

inline void check(bool holds, const char* what) {
    if (!holds) fail(what);
}

inline bool same_bits(double a, double b) { return std::bit_cast<std::uint64_t>(a) == std::bit_cast<std::uint64_t>(b); }

inline std::string_view as_text(const std::uint8_t* data, std::size_t size) {
    return {reinterpret_cast<const char*>(data), size};
}

// Strict UTF-8: shortest forms only, no surrogates, nothing above U+10FFFF.
inline bool is_valid_utf8(std::string_view text) {
    std::size_t i = 0;
    while (i < text.size()) {
        const auto lead = static_cast<unsigned char>(text[i]);
        std::size_t length;
        char32_t cp;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, cp = lead & 0x1F;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, cp = lead & 0x0F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, cp = lead & 0x07;
        } else {
            return false;
        }
        if (text.size() - i < length) return false;
        for (std::size_t k = 1; k < length; ++k) {
            const auto byte = static_cast<unsigned char>(text[i + k]);
            if ((byte & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (byte & 0x3F);
        }
        const char32_t smallest = length == 2 ? 0x80 : length == 3 ? 0x800 : 0x10000;
        if (cp < smallest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += length;
    }
    return true;
}

// One byte, one character: ASCII as itself, the rest spread over Latin-1, the BMP and the
// astral planes, so that small inputs still meet every lookup path of the kernels.
inline char32_t code_point_of(std::uint8_t byte) {
    if (byte < 0x80) return byte;
    if (byte < 0xC0) return 0xC0 + (byte - 0x80);
    if (byte < 0xF0) return 0x3B1 + (byte - 0xC0) * 0x101;
    return 0x1F5F0 + byte;
}

// The parts of the input between 0xFF bytes, each as code points.
inline std::vector<std::u32string> split_code_points(const std::uint8_t* data, std::size_t size) {
    std::vector<std::u32string> parts(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0xFF) {
            parts.emplace_back();
        } else {
            parts.back().push_back(code_point_of(data[i]));
        }
    }
    return parts;
}

}  // namespace pelgar::fuzz
