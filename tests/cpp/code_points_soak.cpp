// Differential soak of the functions that read code points against those that read UTF-8:
// the normaliser gives the same code points for every single code point and for random texts
// over many alphabets, written within the promised room (itself checked per code point from
// the tables); the two-string functions give the same bits for random pairs of such texts.
//
// usage: code_points_soak [texts] [seed]

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "measures/text_functions.hpp"
#include "text/normalize.hpp"
#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"

namespace {

namespace uc = pelgar::text::unicode;
using pelgar::text::encode_utf8;
using pelgar::text::max_code_point_growth;
using pelgar::text::normalize_into;

constexpr char32_t kGuard = 0xFFFFFFFFu;

void print_text(const char* label, std::u32string_view s) {
    std::printf("  %s (%zu):", label, s.size());
    for (char32_t c : s) std::printf(" %X", static_cast<unsigned>(c));
    std::printf("\n");
}

[[noreturn]] void fail(const char* what, std::u32string_view input, std::u32string_view got,
                       std::u32string_view want) {
    std::printf("MISMATCH %s\n", what);
    print_text("input", input);
    print_text("got", got);
    print_text("expected", want);
    std::fflush(stdout);
    std::exit(1);
}

// From code points, into exactly the promised room followed by guards that must survive.
std::u32string from_code_points(std::u32string_view text) {
    const std::size_t room = max_code_point_growth * text.size();
    std::vector<char32_t> buffer(room + 8, kGuard);
    char32_t* const end = normalize_into(text, buffer.data());
    std::u32string result(buffer.data(), end);
    if (std::any_of(buffer.begin() + static_cast<std::ptrdiff_t>(room), buffer.end(),
                    [](char32_t c) { return c != kGuard; }))
        result.push_back(kGuard);
    return result;
}

std::u32string from_utf8(std::u32string_view text) {
    std::u32string out;
    normalize_into(encode_utf8(text), out);
    return out;
}

void check(std::u32string_view text) {
    const std::u32string want = from_utf8(text);
    const std::u32string got = from_code_points(text);
    if (got != want) fail("code points vs UTF-8", text, got, want);
}

bool is_surrogate(char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; }

// Code points that lowercasing and decomposition hand on for cp once marks are dropped.
std::size_t parts_handed_on(char32_t cp) {
    if (cp == 0x0130) return 1;  // i, then a combining dot above, which is a mark
    const uc::CharRecord& upper = uc::record(cp);
    const char32_t lower = (upper.flags & uc::flag_special_lowercase)
                               ? cp  // capital sigma: one sigma, final or not
                               : static_cast<char32_t>(static_cast<std::int32_t>(cp) + upper.lower_delta);
    const uc::CharRecord& rec = uc::record(lower);
    if (rec.decomposition_length == 0) return (rec.flags & uc::flag_mark) ? 0 : 1;
    const std::uint32_t* part = uc::decomposition_pool + rec.decomposition_offset;
    return static_cast<std::size_t>(std::count_if(part, part + rec.decomposition_length, [](std::uint32_t p) {
        return !(p & uc::decomposition_mark_bit);
    }));
}

// Every scalar value alone, between letters and between spaces, plus the room it may need.
void every_code_point() {
    std::size_t most = 0;
    for (char32_t cp = 0; cp <= 0x10FFFF; ++cp) {
        if (is_surrogate(cp)) continue;
        most = std::max(most, parts_handed_on(cp));
        const char32_t alone[] = {cp};
        check(std::u32string_view(alone, 1));
        const char32_t between_letters[] = {U'A', cp, U'b'};
        check(std::u32string_view(between_letters, 3));
        const char32_t between_spaces[] = {0x3000, cp, U' ', cp, 0x85};
        check(std::u32string_view(between_spaces, 5));
    }
    if (most > max_code_point_growth) {
        std::printf("a code point hands on %zu code points, more than the room promised\n", most);
        std::exit(1);
    }
}

// Alphabets that exercise each branch: the ASCII path, case mappings, Final_Sigma, the
// dotted capital I, marks before, after and between letters, Hangul, astral planes,
// composites formed from two non-marks, and white space that is and is not trimmed.
const std::vector<std::u32string> kAlphabets = {
    U"abcXYZ019 -'.",
    U"\u00C0\u00C9\u00E9\u00DF\u00FF\u00D8\u00E5\u00C5aeE",
    U"\u0141\u0142\u0152\u0153\u015A\u015B\u017B\u017C\u011E\u015F\u01C4\u01F1\u01FFa \u00A0\u0085",
    U"\u03A3\u03C3\u039F\u0394\u0386\u03B1'.\u0301 ",
    U"\u0130I\u0131istanbul",
    U"\u0301\u0308\u0327\u093F\u0902\u3099a",
    U"\u4E00\u6F22\u5B57\u304C\u30AC\uFF21\uFB01",
    U"\U0001F600\U00010400\U0001D15E\U0001D400\U00016D63\U00016D67\U00016D68",
    U"\uD55C\uAD6D\u1100\u1161\u11A8\uAC00",
    U"\t\n\v\f\r \u0085\u00A0\u1680\u2000\u200A\u2028\u3000\u200B\uFEFF\u001C",
};

std::u32string random_text(std::mt19937_64& rng) {
    const std::size_t length = std::uniform_int_distribution<std::size_t>(0, 24)(rng);
    std::u32string text;
    // Mostly one alphabet with white space around it, sometimes any mix, sometimes any code point.
    const std::size_t mode = rng() % 8;
    const std::u32string& main = kAlphabets[rng() % kAlphabets.size()];
    const std::u32string& spaces = kAlphabets.back();
    for (std::size_t i = 0; i < length; ++i) {
        if (mode == 0) {
            char32_t cp;
            do cp = static_cast<char32_t>(rng() % 0x110000);
            while (is_surrogate(cp));
            text.push_back(cp);
        } else {
            const std::u32string& from =
                mode == 1 ? kAlphabets[rng() % kAlphabets.size()] : (rng() % 6 == 0 ? spaces : main);
            text.push_back(from[rng() % from.size()]);
        }
    }
    return text;
}

template <class Value>
std::uint64_t bits(Value value) {
    if constexpr (std::is_same_v<Value, double>)
        return std::bit_cast<std::uint64_t>(value);
    else
        return value;
}

// Every two-string function on a pair, from code points and from UTF-8.
void check_pair(std::u32string_view a, std::u32string_view b) {
    namespace m = pelgar::measures;
    const std::string a8 = encode_utf8(a), b8 = encode_utf8(b);
    auto same = [&](const char* what, auto got, auto want) {
        if (bits(got) != bits(want)) {
            std::printf("MISMATCH %s: %.17g from code points, %.17g from UTF-8\n", what, static_cast<double>(got),
                        static_cast<double>(want));
            print_text("a", a);
            print_text("b", b);
            std::exit(1);
        }
    };
    same("levenshtein", m::levenshtein(a, b), m::levenshtein(a8, b8));
    same("jaro_winkler", m::jaro_winkler(a, b), m::jaro_winkler(a8, b8));
    same("trigram_similarity", m::trigram_similarity(a, b), m::trigram_similarity(a8, b8));
    same("combined_score", m::combined_score(a, b), m::combined_score(a8, b8));
    same("token_sort_ratio", m::token_sort_ratio(a, b), m::token_sort_ratio(a8, b8));
    same("token_set_ratio", m::token_set_ratio(a, b), m::token_set_ratio(a8, b8));
}

}  // namespace

int main(int argc, char** argv) {
    const unsigned long long texts = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 100000;
    const unsigned long long seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    every_code_point();
    std::mt19937_64 rng(seed);
    std::u32string previous;
    for (unsigned long long i = 0; i < texts; ++i) {
        std::u32string text = random_text(rng);
        check(text);
        // Half the pairs share tokens: the text against itself reordered or with tokens repeated.
        if (i % 2 == 0) {
            check_pair(text, previous);
        } else {
            std::u32string other = previous + U" " + text + U" " + previous;
            check_pair(text, other);
        }
        previous = std::move(text);
    }
    std::printf("code_points_soak: %llu texts, seed %llu: ok\n", texts, seed);
    return 0;
}
