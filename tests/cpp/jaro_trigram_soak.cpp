// Differential soak of the fast Jaro-Winkler and trigram kernels: every score of a
// pattern, reused across many candidates and built fresh, must have the same bits as
// the plain reference models. Known values and small exhaustive domains run first.
//
// usage: jaro_trigram_soak [pairs] [seed]

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <random>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "measures/jaro_winkler.hpp"
#include "measures/trigram.hpp"
#include "reference_measures.hpp"

namespace {

using pelgar::measures::JaroWinklerPattern;
using pelgar::measures::TrigramPattern;
using pelgar::reference::reference_jaro_winkler;
using pelgar::reference::reference_trigram;

void print_string(const char* label, std::u32string_view s) {
    std::printf("  %s (%zu chars):", label, s.size());
    for (char32_t c : s) std::printf(" %X", static_cast<unsigned>(c));
    std::printf("\n");
}

[[noreturn]] void fail(const char* what, std::u32string_view a, std::u32string_view b, double got, double want) {
    std::printf("MISMATCH %s\n", what);
    print_string("a", a);
    print_string("b", b);
    std::printf("  got      %.17g (%016llx)\n  expected %.17g (%016llx)\n", got,
                static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(got)), want,
                static_cast<unsigned long long>(std::bit_cast<std::uint64_t>(want)));
    std::fflush(stdout);
    std::exit(1);
}

void same_bits(const char* what, std::u32string_view a, std::u32string_view b, double got, double want) {
    if (std::bit_cast<std::uint64_t>(got) != std::bit_cast<std::uint64_t>(want)) fail(what, a, b, got, want);
}

// Every kernel on one pair; jw and tri were built from a and may have scored others before.
void check_pair(const JaroWinklerPattern& jw, const TrigramPattern& tri, std::u32string_view a,
                std::u32string_view b) {
    const double jw_want = reference_jaro_winkler(a, b);
    same_bits("JaroWinklerPattern (reused)", a, b, jw.score(b), jw_want);
    same_bits("JaroWinklerPattern (fresh)", a, b, JaroWinklerPattern(a).score(b), jw_want);
    same_bits("jaro_winkler_score", a, b, pelgar::measures::jaro_winkler_score(a, b), jw_want);

    const double tri_want = reference_trigram(a, b);
    same_bits("TrigramPattern (reused)", a, b, tri.score(b), tri_want);
    same_bits("TrigramPattern (fresh)", a, b, TrigramPattern(a).score(b), tri_want);
    same_bits("trigram_score", a, b, pelgar::measures::trigram_score(a, b), tri_want);
    same_bits("trigram symmetry", a, b, TrigramPattern(b).score(a), tri_want);
}

// The worked examples, so that a reference drifting together with a kernel is caught.
void known_values() {
    struct Case {
        std::u32string_view a, b;
        double jw;
    };
    const Case cases[] = {
        {U"", U"", 1.0},
        {U"", U"a", 0.0},
        {U"a", U"", 0.0},
        {U"ab", U"ba", 0.0},
        {U"ab", U"ac", 0.7},
        {U"martha", U"marhta", 0.9611111111111111},
        {U"dwayne", U"duane", 0.8400000000000001},
        {U"dixon", U"dicksonx", 0.8133333333333332},
        {U"heart", U"earth", 0.8666666666666667},
        {U"stone", U"notes", 0.6222222222222222},
        {U"abcefd", U"abcdef", 0.9416666666666667},
        {U"xyzg", U"xyzf", 0.8833333333333334},
        {U"xyzd", U"xyzadef", 0.9},
        {U"abcdefghij", U"a", 0.7300000000000001},
        {U"bayyyy", U"abz", 0.5},
        {U"abcdefg", U"abcdefh", 0.9428571428571428},
        {U"prefixes", U"prefixed", 0.95},
    };
    for (const Case& c : cases) {
        same_bits("reference_jaro_winkler known value", c.a, c.b, reference_jaro_winkler(c.a, c.b), c.jw);
        same_bits("JaroWinklerPattern known value", c.a, c.b, JaroWinklerPattern(c.a).score(c.b), c.jw);
    }

    struct TriCase {
        std::u32string_view a, b;
        double score;
    };
    const TriCase tri_cases[] = {
        {U"", U"", 1.0},
        {U"ab", U"cd", 1.0},
        {U"", U"xy", 1.0},
        {U"ab", U"abc", 0.0},
        {U"abc", U"ab", 0.0},
        {U"abcd", U"abce", 0.5},
        {U"aaaa", U"aaa", 2.0 / 3.0},
        {U"aaa", U"aaaa", 2.0 / 3.0},
        {U"abc", U"xabc", 2.0 / 3.0},
        {U"\u65E5\u672C\u8A9E", U"\u65E5\u672C\u8A9E", 1.0},
        {U"\u65E5\u672C\u8A9E", U"\u65E5\u672C", 0.0},
        {U"a bc", U"abc", 0.0},
    };
    for (const TriCase& c : tri_cases) {
        same_bits("reference_trigram known value", c.a, c.b, reference_trigram(c.a, c.b), c.score);
        same_bits("TrigramPattern known value", c.a, c.b, TrigramPattern(c.a).score(c.b), c.score);
    }
}

// All strings over the alphabet up to the given length, in order of length.
std::vector<std::u32string> all_strings(std::u32string_view alphabet, std::size_t max_length) {
    std::vector<std::u32string> out{std::u32string()};
    for (std::size_t begin = 0; out[begin].size() < max_length;) {
        const std::size_t end = out.size();
        for (std::size_t i = begin; i < end; ++i)
            for (char32_t c : alphabet) out.push_back(out[i] + c);
        begin = end;
    }
    return out;
}

std::uint64_t exhaustive(std::u32string_view alphabet, std::size_t max_length) {
    const std::vector<std::u32string> strings = all_strings(alphabet, max_length);
    for (const std::u32string& a : strings) {
        const JaroWinklerPattern jw(a);
        const TrigramPattern tri(a);
        for (const std::u32string& b : strings) check_pair(jw, tri, a, b);
    }
    return static_cast<std::uint64_t>(strings.size()) * strings.size();
}

class Generator {
public:
    explicit Generator(std::uint64_t seed) : rng_(seed) {}

    std::uint64_t below(std::uint64_t bound) { return rng_() % bound; }
    bool chance(unsigned percent) { return below(100) < percent; }

    // A fresh alphabet for one group of pairs: tiny ones force repeats and transposition
    // chains; the wide ones cover the Latin-1 table, its edge at 256 and the hashed rest.
    void pick_alphabet() {
        alphabet_.clear();
        switch (below(8)) {
            case 0: alphabet_ = U"a"; break;
            case 1: alphabet_ = U"ab"; break;
            case 2: alphabet_ = U"abcd"; break;
            case 3: alphabet_ = U"abcdefghijklmnopqrstuvwxyz"; break;
            case 4: draw_from(0x00, 0x100); break;
            case 5: draw_from(0x4E00, 0xA000); break;
            case 6: draw_from(0x10000, 0x110000); break;
            default: {
                const std::size_t size = alphabet_size();
                const char32_t edges[] = {0x0, 0x61, 0x7F, 0xFF, 0x100, 0x7FF, 0xFFFF, 0x10000, 0x10FFFF};
                while (alphabet_.size() < size) {
                    switch (below(5)) {
                        case 0: alphabet_ += static_cast<char32_t>(0x61 + below(26)); break;
                        case 1: alphabet_ += static_cast<char32_t>(0x80 + below(0x80)); break;
                        case 2: alphabet_ += static_cast<char32_t>(0x4E00 + below(0x5200)); break;
                        case 3: alphabet_ += static_cast<char32_t>(0x10000 + below(0x100000)); break;
                        default: alphabet_ += edges[below(std::size(edges))]; break;
                    }
                }
            }
        }
    }

    // A query holding every Latin-1 character, the one case where the direct table is full.
    std::u32string full_latin1_query() {
        alphabet_.clear();
        for (char32_t c = 0; c < 256; ++c) alphabet_ += c;
        std::u32string a = alphabet_;
        for (std::size_t i = a.size() - 1; i > 0; --i) std::swap(a[i], a[below(i + 1)]);
        for (std::uint64_t extra = below(40); extra > 0; --extra) {
            const char32_t c = chance(50) ? static_cast<char32_t>(0x100 + below(0x10FF00)) : alphabet_[below(256)];
            a.insert(a.begin() + static_cast<std::ptrdiff_t>(below(a.size() + 1)), c);
        }
        // Repeats of the character that fills the table, after its first occurrence.
        std::size_t last_new = 0;
        std::vector<bool> seen(256, false);
        for (std::size_t i = 0; i < a.size(); ++i)
            if (a[i] < 256 && !seen[a[i]]) seen[a[i]] = true, last_new = i;
        for (std::uint64_t copies = below(4); copies > 0; --copies)
            a.insert(a.begin() + static_cast<std::ptrdiff_t>(last_new + 1 + below(a.size() - last_new)), a[last_new]);
        alphabet_ += U"\u0100\u4E00\U0001F600";
        return a;
    }

    // A long query of mostly distinct characters, past the size where one mask row per
    // character would cost more memory than the texts: the position-list matching.
    std::u32string many_distinct_query() {
        const std::size_t size = 600 + below(3000);
        alphabet_.clear();
        const char32_t base = chance(50) ? 0x4E00 : 0x10000;
        // Some repeats too, so that a row holds several positions.
        const std::size_t distinct = chance(50) ? size : size / (2 + below(4));
        while (alphabet_.size() < distinct) alphabet_ += static_cast<char32_t>(base + below(0x5000));
        if (chance(30)) alphabet_ += U"abcdefghij";
        return random_string(size);
    }

    std::size_t length() {
        static constexpr std::size_t kBoundaries[] = {62, 63, 64, 65, 66, 126, 127, 128, 129, 130};
        const std::uint64_t roll = below(100);
        if (roll < 40) return below(9);
        if (roll < 60) return kBoundaries[below(std::size(kBoundaries))];
        if (roll < 80) return 9 + below(32);
        return below(301);
    }

    std::u32string random_string(std::size_t size) {
        std::u32string s;
        for (std::size_t i = 0; i < size; ++i) s += alphabet_[below(alphabet_.size())];
        return s;
    }

    // A candidate for query a: unrelated, near-equal, transposed, or shifted to a word edge.
    std::u32string candidate(const std::u32string& a) {
        std::u32string b = a;
        switch (below(6)) {
            case 0: return random_string(length());
            case 1: return b;
            case 2: {  // a few substitutions, insertions and deletions
                for (std::uint64_t edits = 1 + below(3); edits > 0; --edits) {
                    const std::size_t at = b.empty() ? 0 : below(b.size() + 1);
                    const std::uint64_t kind = below(3);
                    if (kind == 0 && at < b.size()) b[at] = letter();
                    else if (kind == 1 || b.empty()) b.insert(b.begin() + static_cast<std::ptrdiff_t>(at), letter());
                    else b.erase(at == b.size() ? at - 1 : at, 1);
                }
                return b;
            }
            case 3: {  // swaps, adjacent or as far as a match window reaches
                if (b.size() < 2) return b;
                for (std::uint64_t swaps = 1 + below(4); swaps > 0; --swaps) {
                    const std::size_t i = below(b.size());
                    const std::size_t reach = chance(50) ? 1 : 1 + below(b.size() / 2 + 1);
                    const std::size_t k = std::min(b.size() - 1, i + reach);
                    std::swap(b[i], b[k]);
                }
                return b;
            }
            case 4: {  // grow or shrink to a length around 64 or 128
                static constexpr std::size_t kEdges[] = {63, 64, 65, 127, 128, 129};
                const std::size_t target = kEdges[below(std::size(kEdges))];
                if (b.size() > target) {
                    b.erase(chance(50) ? 0 : target, b.size() - target);
                } else {
                    while (b.size() < target) b.insert(b.begin() + static_cast<std::ptrdiff_t>(below(b.size() + 1)), letter());
                }
                return b;
            }
            default: {  // a shared core with different ends
                std::u32string core = a.substr(below(a.size() + 1));
                core = core.substr(0, below(core.size() + 1));
                return random_string(below(5)) + core + random_string(below(5));
            }
        }
    }

private:
    std::size_t alphabet_size() {
        static constexpr std::size_t kSizes[] = {2, 3, 5, 8, 16, 64, 200};
        return kSizes[below(std::size(kSizes))];
    }
    void draw_from(char32_t lo, char32_t hi) {
        const std::size_t size = alphabet_size();
        while (alphabet_.size() < size) alphabet_ += static_cast<char32_t>(lo + below(hi - lo));
    }
    char32_t letter() { return alphabet_[below(alphabet_.size())]; }

    std::mt19937_64 rng_;
    std::u32string alphabet_;
};

}  // namespace

int main(int argc, char** argv) {
    const std::uint64_t pairs = argc > 1 ? std::strtoull(argv[1], nullptr, 10) : 1000000;
    const std::uint64_t seed = argc > 2 ? std::strtoull(argv[2], nullptr, 10) : 20240611;

    known_values();
    std::uint64_t exhaustive_pairs = exhaustive(U"ab", 7);
    exhaustive_pairs += exhaustive(U"abc", 4);
    exhaustive_pairs += exhaustive(U"a\u00FF\u0100\U0001F600", 3);

    Generator gen(seed);
    std::uint64_t done = 0;
    for (std::uint64_t group = 0; done < pairs; ++group) {
        std::u32string a;
        if (group % 50 == 0) {
            a = gen.full_latin1_query();
        } else if (group % 50 == 25) {
            a = gen.many_distinct_query();
        } else {
            gen.pick_alphabet();
            a = gen.random_string(gen.length());
        }
        const JaroWinklerPattern jw(a);
        const TrigramPattern tri(a);
        // Several candidates per pattern, so that scratch left by one score meets the next.
        for (std::uint64_t i = 1 + gen.below(16); i > 0 && done < pairs; --i, ++done) {
            std::u32string b = gen.candidate(a);
            // A long query also meets itself reversed: every character far from its match.
            if (a.size() > 500 && gen.chance(30)) b.assign(a.rbegin(), a.rend());
            check_pair(jw, tri, a, b);
            if (gen.chance(25)) check_pair(JaroWinklerPattern(b), TrigramPattern(b), b, a);
        }
    }

    std::printf("jaro_trigram_soak: seed %llu, %llu random pairs and %llu exhaustive pairs bit-identical\n",
                static_cast<unsigned long long>(seed), static_cast<unsigned long long>(done),
                static_cast<unsigned long long>(exhaustive_pairs));
    return 0;
}
