// Differential soak of the bit-parallel edit distance against the plain two-row table:
// patterns built fresh and reused across many texts, both argument orders, and the
// one-shot function. Known values, small exhaustive domains and a sweep of single
// edits over the word boundaries run first, then random pairs.
//
// usage: levenshtein_soak [pairs] [seed]

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "measures/levenshtein.hpp"
#include "reference_measures.hpp"

namespace {

using pelgar::measures::edit_distance;
using pelgar::measures::LevenshteinPattern;
using pelgar::reference::reference_edit_distance;

void print_string(const char* label, std::u32string_view s) {
    std::printf("  %s (%zu chars):", label, s.size());
    for (const char32_t c : s) std::printf(" %X", static_cast<unsigned>(c));
    std::printf("\n");
}

void expect(const char* what, std::u32string_view a, std::u32string_view b, std::uint64_t got, std::uint64_t want) {
    if (got == want) return;
    std::printf("MISMATCH %s\n", what);
    print_string("a", a);
    print_string("b", b);
    std::printf("  got %llu, expected %llu\n", static_cast<unsigned long long>(got),
                static_cast<unsigned long long>(want));
    std::fflush(stdout);
    std::exit(1);
}

// Every way of asking for the distance of a and b, given a's pattern built earlier.
void check_pair(const LevenshteinPattern& pattern_a, std::u32string_view a, std::u32string_view b) {
    const std::uint64_t want = reference_edit_distance(a, b);
    expect("reused pattern of a, distance(b)", a, b, pattern_a.distance(b), want);
    expect("pattern of b, distance(a)", a, b, LevenshteinPattern(b).distance(a), want);
    expect("edit_distance(a, b)", a, b, edit_distance(a, b), want);
    expect("edit_distance(b, a)", a, b, edit_distance(b, a), want);
}

void check_pair(std::u32string_view a, std::u32string_view b) {
    const LevenshteinPattern pattern(a);
    expect("fresh pattern of a, distance(b)", a, b, pattern.distance(b), reference_edit_distance(a, b));
    check_pair(pattern, a, b);
}

void known_values() {
    struct Case {
        std::u32string a, b;
        std::uint64_t distance;
    };
    const std::u32string run_a(200, U'a');
    const std::vector<Case> cases = {
        {U"", U"", 0},
        {U"abc", U"", 3},
        {U"saturday", U"sunday", 3},
        {U"flaw", U"lawn", 2},
        {U"intention", U"execution", 5},
        {U"ab", U"ba", 2},
        {U"\u65E5\u672C\u8A9E", U"\u65E5\u672C", 1},
        {run_a, std::u32string(64, U'a'), 136},
        {run_a, std::u32string(200, U'b'), 200},
        {run_a, run_a.substr(0, 99) + U"b" + run_a.substr(100), 1},
    };
    for (const Case& c : cases) {
        expect("known value", c.a, c.b, c.distance, reference_edit_distance(c.a, c.b));
        check_pair(c.a, c.b);
    }
}

// All strings over the alphabet up to the given length.
std::vector<std::u32string> all_strings(std::u32string_view alphabet, std::size_t max_length) {
    std::vector<std::u32string> out = {U""};
    for (std::size_t begin = 0, end = 1, length = 1; length <= max_length; ++length) {
        for (std::size_t k = begin; k < end; ++k)
            for (const char32_t c : alphabet) out.push_back(out[k] + c);
        begin = end;
        end = out.size();
    }
    return out;
}

std::size_t exhaustive(std::u32string_view alphabet, std::size_t max_length) {
    const std::vector<std::u32string> strings = all_strings(alphabet, max_length);
    for (const std::u32string& a : strings) {
        const LevenshteinPattern pattern(a);
        for (const std::u32string& b : strings) check_pair(pattern, a, b);
    }
    return strings.size() * strings.size();
}

using Rng = std::mt19937_64;

std::size_t uniform(Rng& rng, std::size_t lo, std::size_t hi) {  // inclusive
    return std::uniform_int_distribution<std::size_t>(lo, hi)(rng);
}

enum class Alphabet { one, two, four, letters, latin1, cjk, astral, mixed, count };

const char32_t boundary_chars[] = {0x0, 0x7F, 0xFF, 0x100, 0xFFFF, 0x10000, 0x10FFFF};

char32_t draw(Alphabet alphabet, std::size_t spread, Rng& rng) {
    switch (alphabet) {
        case Alphabet::one: return U'a';
        case Alphabet::two: return U"ab"[uniform(rng, 0, 1)];
        case Alphabet::four: return U"acgt"[uniform(rng, 0, 3)];
        case Alphabet::letters: return static_cast<char32_t>(U'a' + uniform(rng, 0, 25));
        case Alphabet::latin1:
            if (uniform(rng, 0, 4) != 0) return U" abcdefghijklmnopqrstuvwxyz"[uniform(rng, 0, 26)];
            return static_cast<char32_t>(uniform(rng, 0x80, 0xFF));
        case Alphabet::cjk: return static_cast<char32_t>(0x4E00 + uniform(rng, 0, spread));
        case Alphabet::astral:
            if (uniform(rng, 0, 1) == 0) return static_cast<char32_t>(0x1F600 + uniform(rng, 0, 0x4F));
            return static_cast<char32_t>(0x20000 + uniform(rng, 0, spread));
        default:
            if (uniform(rng, 0, 9) == 0) return boundary_chars[uniform(rng, 0, std::size(boundary_chars) - 1)];
            return draw(static_cast<Alphabet>(uniform(rng, 0, static_cast<std::size_t>(Alphabet::mixed) - 1)),
                        spread, rng);
    }
}

// Short names, lengths around the word boundaries, and anything up to 300.
std::size_t draw_length(Rng& rng) {
    static const std::size_t boundaries[] = {63, 64, 65, 127, 128, 129, 191, 192, 193};
    switch (uniform(rng, 0, 9)) {
        case 0: case 1: case 2: return uniform(rng, 0, 16);
        case 3: case 4: return boundaries[uniform(rng, 0, std::size(boundaries) - 1)];
        case 5: return boundaries[uniform(rng, 0, std::size(boundaries) - 1)] + uniform(rng, 0, 4) - 2;
        default: return uniform(rng, 0, 300);
    }
}

struct Source {
    Alphabet alphabet;
    std::size_t spread;  // how many distinct CJK or astral characters
    std::u32string make(std::size_t length, Rng& rng) const {
        std::u32string s;
        for (std::size_t i = 0; i < length; ++i) s += draw(alphabet, spread, rng);
        return s;
    }
};

void edit_at(std::u32string& s, std::size_t at, std::size_t kind, char32_t c) {
    switch (kind) {
        case 0: s.insert(s.begin() + static_cast<std::ptrdiff_t>(std::min(at, s.size())), c); break;
        case 1: if (at < s.size()) s.erase(at, 1); break;
        case 2: if (at < s.size()) s[at] = c; break;
        default: if (at + 1 < s.size()) std::swap(s[at], s[at + 1]); break;
    }
}

std::u32string variant(const std::u32string& a, const Source& source, Rng& rng) {
    switch (uniform(rng, 0, 9)) {
        case 0: case 1: case 2: case 3: {  // a few edits apart
            std::u32string b = a;
            for (std::size_t e = uniform(rng, 0, 6); e > 0; --e)
                edit_at(b, uniform(rng, 0, b.size()), uniform(rng, 0, 3), draw(source.alphabet, source.spread, rng));
            return b;
        }
        case 4: case 5: {  // a shared prefix and suffix around a new middle
            const std::size_t i = uniform(rng, 0, a.size());
            const std::size_t j = uniform(rng, i, a.size());
            return a.substr(0, i) + source.make(uniform(rng, 0, 70), rng) + a.substr(j);
        }
        case 6: {  // edits only near both ends, so the middle left to compare is long
            std::u32string b = a;
            edit_at(b, uniform(rng, 0, 3), uniform(rng, 0, 3), draw(source.alphabet, source.spread, rng));
            edit_at(b, b.size() - std::min(b.size(), uniform(rng, 0, 3)), uniform(rng, 0, 3),
                    draw(source.alphabet, source.spread, rng));
            return b;
        }
        default: return source.make(draw_length(rng), rng);
    }
}

Source draw_source(Rng& rng) {
    static const std::size_t spreads[] = {7, 63, 300, 20000};
    return {static_cast<Alphabet>(uniform(rng, 0, static_cast<std::size_t>(Alphabet::count) - 1)),
            spreads[uniform(rng, 0, std::size(spreads) - 1)]};
}

// Every single edit at every position of strings that straddle the word boundaries.
std::size_t sweep(Rng& rng) {
    std::size_t pairs = 0;
    for (const std::size_t length : {63, 64, 65, 127, 128, 129, 200}) {
        for (const Source source : {Source{Alphabet::letters, 0}, Source{Alphabet::cjk, 40}}) {
            const std::u32string a = source.make(length, rng);
            const LevenshteinPattern pattern(a);
            for (std::size_t at = 0; at <= length; ++at) {
                for (std::size_t kind = 0; kind < 4; ++kind) {
                    std::u32string b = a;
                    edit_at(b, at, kind, draw(source.alphabet, source.spread, rng));
                    check_pair(pattern, a, b);
                    ++pairs;
                }
            }
        }
    }
    return pairs;
}

// A few strings of dozens of words, where carries cross many word boundaries.
std::size_t long_pairs(Rng& rng) {
    std::size_t pairs = 0;
    for (const Source source : {Source{Alphabet::four, 0}, Source{Alphabet::latin1, 0}, Source{Alphabet::mixed, 300}}) {
        const std::u32string a = source.make(uniform(rng, 1500, 2500), rng);
        const LevenshteinPattern pattern(a);
        for (int k = 0; k < 3; ++k) {
            check_pair(pattern, a, variant(a, source, rng));
            ++pairs;
        }
        check_pair(pattern, a, source.make(uniform(rng, 1500, 2500), rng));
        ++pairs;
    }
    return pairs;
}

}  // namespace

int main(int argc, char** argv) {
    const std::size_t pairs = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 1;
    Rng rng(seed);

    known_values();
    std::size_t fixed = exhaustive(U"ab", 7);
    fixed += exhaustive(U"a\u00FF\u0100\U0010FFFF", 4);
    fixed += sweep(rng);
    fixed += long_pairs(rng);

    std::size_t done = 0;
    while (done < pairs) {
        const Source source = draw_source(rng);
        const std::u32string a = source.make(draw_length(rng), rng);
        const LevenshteinPattern pattern(a);
        const std::u32string first = variant(a, source, rng);
        check_pair(first, a);
        check_pair(pattern, a, first);
        done += 2;
        for (std::size_t k = 0; k < 8 && done < pairs; ++k, ++done) check_pair(pattern, a, variant(a, source, rng));
    }
    std::printf("levenshtein soak: seed %llu, %zu fixed and %zu random pairs, all equal to the table\n",
                static_cast<unsigned long long>(seed), fixed, done);
    return 0;
}
