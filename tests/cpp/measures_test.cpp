// Exact values of the four measures, bit for bit, plus exhaustive and randomised
// consistency checks. The near misses compute the tempting wrong formula and show
// that it lands on a different double, so a regression to it would be caught.

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "measures/jaro_winkler.hpp"
#include "measures/levenshtein.hpp"
#include "measures/trigram.hpp"
#include "measures/weighted_score.hpp"
#include "text/utf8.hpp"

namespace {

using pelgar::measures::edit_distance;
using pelgar::measures::jaro_winkler_score;
using pelgar::measures::trigram_score;
using pelgar::measures::trigrams;
using pelgar::measures::weighted_score;

int failures = 0;

void check_double(double actual, double expected, const char* what, int line) {
    if (actual == expected) return;
    ++failures;
    std::printf("line %d: %s = %.17g, expected %.17g\n", line, what, actual, expected);
}

void check_u64(std::uint64_t actual, std::uint64_t expected, const char* what, int line) {
    if (actual == expected) return;
    ++failures;
    std::printf("line %d: %s = %llu, expected %llu\n", line, what, static_cast<unsigned long long>(actual),
                static_cast<unsigned long long>(expected));
}

void check_true(bool condition, const char* what, int line) {
    if (condition) return;
    ++failures;
    std::printf("line %d: failed: %s\n", line, what);
}

#define EXPECT_D(actual, expected) check_double((actual), (expected), #actual, __LINE__)
#define EXPECT_U(actual, expected) check_u64((actual), (expected), #actual, __LINE__)
#define EXPECT_TRUE(condition) check_true((condition), #condition, __LINE__)

// Jaro similarity from its counts, in the one correct order of operations.
double jaro_right(std::uint64_t matches, std::uint64_t mismatched, std::uint64_t n, std::uint64_t m) {
    const double md = static_cast<double>(matches);
    const double t = static_cast<double>(mismatched) * -0.5;
    const double u = (t + md) / md;
    const double r1 = md / static_cast<double>(n);
    const double r2 = md / static_cast<double>(m);
    const double s = r2 + r1;
    return (u + s) / 3.0;
}

// Wrong: half-transpositions halved in integer arithmetic.
double jaro_integer_halving(std::uint64_t matches, std::uint64_t mismatched, std::uint64_t n, std::uint64_t m) {
    const double md = static_cast<double>(matches);
    const double u = (md - static_cast<double>(mismatched / 2)) / md;
    const double s = md / static_cast<double>(m) + md / static_cast<double>(n);
    return (u + s) / 3.0;
}

// Wrong: multiplication by a precomputed third instead of division by 3.0.
double jaro_times_third(std::uint64_t matches, std::uint64_t mismatched, std::uint64_t n, std::uint64_t m) {
    const double md = static_cast<double>(matches);
    const double u = (static_cast<double>(mismatched) * -0.5 + md) / md;
    const double s = md / static_cast<double>(m) + md / static_cast<double>(n);
    constexpr double third = 1.0 / 3.0;
    return (u + s) * third;
}

// Wrong: the three terms summed as r1 + (r2 + u).
double jaro_regrouped(std::uint64_t matches, std::uint64_t mismatched, std::uint64_t n, std::uint64_t m) {
    const double md = static_cast<double>(matches);
    const double u = (static_cast<double>(mismatched) * -0.5 + md) / md;
    const double r1 = md / static_cast<double>(n);
    const double r2 = md / static_cast<double>(m);
    return (r1 + (r2 + u)) / 3.0;
}

double boosted(double jaro, double p) { return ((1.0 - jaro) * p) + jaro; }

std::u32string u32(std::string_view ascii) { return std::u32string(ascii.begin(), ascii.end()); }

void levenshtein_examples() {
    EXPECT_U(edit_distance(U"", U""), 0);
    EXPECT_U(edit_distance(U"abc", U""), 3);
    EXPECT_U(edit_distance(U"", U"abc"), 3);
    EXPECT_U(edit_distance(U"saturday", U"sunday"), 3);
    EXPECT_U(edit_distance(U"flaw", U"lawn"), 2);
    EXPECT_U(edit_distance(U"intention", U"execution"), 5);
    EXPECT_U(edit_distance(U"ab", U"ba"), 2);
    EXPECT_U(edit_distance(U"cafe", U"cafe"), 0);
    EXPECT_U(edit_distance(U"a b", U"ab"), 1);
    EXPECT_U(edit_distance(U"\u65E5\u672C\u8A9E", U"\u65E5\u672C"), 1);
    EXPECT_U(edit_distance(U"\uD55C", U"\uD55C"), 0);
    // The measure itself does not normalise: unrecomposed jamo are three other characters.
    EXPECT_U(edit_distance(U"\uD55C", U"\u1112\u1161\u11AB"), 3);
    EXPECT_U(edit_distance(U"\U0001F600x", U"\U0001F601x"), 1);
}

void jaro_winkler_examples() {
    EXPECT_D(jaro_winkler_score(U"", U""), 1.0);
    EXPECT_D(jaro_winkler_score(U"", U"a"), 0.0);
    EXPECT_D(jaro_winkler_score(U"a", U""), 0.0);
    EXPECT_D(jaro_winkler_score(U"a", U"a"), 1.0);
    EXPECT_D(jaro_winkler_score(U"a", U"b"), 0.0);
    EXPECT_D(jaro_winkler_score(U"ab", U"ba"), 0.0);

    EXPECT_D(jaro_right(1, 0, 2, 2), 0.6666666666666666);
    EXPECT_D(jaro_winkler_score(U"ab", U"ac"), 0.7);

    EXPECT_D(jaro_right(6, 2, 6, 6), 0.9444444444444445);
    EXPECT_D(jaro_winkler_score(U"martha", U"marhta"), 0.9611111111111111);
    EXPECT_D(jaro_right(4, 0, 6, 5), 0.8222222222222223);
    EXPECT_D(jaro_winkler_score(U"dwayne", U"duane"), 0.8400000000000001);
    EXPECT_D(jaro_right(4, 0, 5, 8), 0.7666666666666666);
    EXPECT_D(jaro_winkler_score(U"dixon", U"dicksonx"), 0.8133333333333332);
    EXPECT_D(jaro_winkler_score(U"heart", U"earth"), 0.8666666666666667);
    EXPECT_D(jaro_right(4, 0, 5, 5), 0.8666666666666667);
    EXPECT_D(jaro_winkler_score(U"stone", U"notes"), 0.6222222222222222);
    EXPECT_D(jaro_right(3, 2, 5, 5), 0.6222222222222222);

    // Three mismatched pairs count as 1.5.
    EXPECT_D(jaro_right(6, 3, 6, 6), 0.9166666666666666);
    EXPECT_D(jaro_winkler_score(U"abcefd", U"abcdef"), 0.9416666666666667);
    EXPECT_D(jaro_integer_halving(6, 3, 6, 6), 0.9444444444444445);
    EXPECT_TRUE(jaro_integer_halving(6, 3, 6, 6) != jaro_right(6, 3, 6, 6));

    // The boost for a prefix of 3 is 3 * 0.1, not the literal 0.3.
    EXPECT_D(jaro_winkler_score(U"xyzg", U"xyzf"), 0.8833333333333334);
    EXPECT_D(boosted(jaro_right(3, 0, 4, 4), 3 * 0.1), 0.8833333333333334);
    EXPECT_D(boosted(jaro_right(3, 0, 4, 4), 0.3), 0.8833333333333333);
    EXPECT_TRUE(boosted(jaro_right(3, 0, 4, 4), 0.3) != jaro_winkler_score(U"xyzg", U"xyzf"));
    EXPECT_D(jaro_winkler_score(U"xyzd", U"xyzadef"), 0.9);
    EXPECT_D(boosted(jaro_right(4, 0, 4, 7), 3 * 0.1), 0.9);
    EXPECT_D(boosted(jaro_right(4, 0, 4, 7), 0.3), 0.8999999999999999);
    EXPECT_TRUE(boosted(jaro_right(4, 0, 4, 7), 0.3) != jaro_winkler_score(U"xyzd", U"xyzadef"));

    // Division by 3.0, not multiplication by a third.
    EXPECT_D(jaro_right(1, 0, 10, 1), 0.7000000000000001);
    EXPECT_D(jaro_winkler_score(U"abcdefghij", U"a"), 0.7300000000000001);
    EXPECT_D(jaro_times_third(1, 0, 10, 1), 0.7);
    EXPECT_TRUE(jaro_times_third(1, 0, 10, 1) != jaro_right(1, 0, 10, 1));

    // u + (r2 + r1), not r1 + (r2 + u).
    EXPECT_D(jaro_right(2, 2, 6, 3), 0.5);
    EXPECT_D(jaro_winkler_score(U"bayyyy", U"abz"), 0.5);
    EXPECT_D(jaro_regrouped(2, 2, 6, 3), 0.49999999999999994);
    EXPECT_TRUE(jaro_regrouped(2, 2, 6, 3) != jaro_winkler_score(U"bayyyy", U"abz"));

    // The prefix stops at 4 characters.
    EXPECT_D(jaro_winkler_score(U"abcdefg", U"abcdefh"), 0.9428571428571428);
    EXPECT_D(jaro_winkler_score(U"prefixes", U"prefixed"), 0.95);
}

void trigram_examples() {
    EXPECT_TRUE(trigrams(U"").empty());
    EXPECT_TRUE(trigrams(U"ab").empty());
    const std::vector<std::uint64_t> abcd = trigrams(U"abcd");
    EXPECT_U(abcd.size(), 2);
    EXPECT_U(abcd.at(0), (std::uint64_t{'a'} << 42) | (std::uint64_t{'b'} << 21) | 'c');
    EXPECT_U(abcd.at(1), (std::uint64_t{'b'} << 42) | (std::uint64_t{'c'} << 21) | 'd');
    EXPECT_U(trigrams(U"\U0010FFFF\U0010FFFF\U0010FFFF").at(0), 0x10FFFFULL << 42 | 0x10FFFFULL << 21 | 0x10FFFF);

    EXPECT_D(trigram_score(U"", U""), 1.0);
    EXPECT_D(trigram_score(U"ab", U"cd"), 1.0);
    EXPECT_D(trigram_score(U"", U"xy"), 1.0);
    EXPECT_D(trigram_score(U"ab", U"abc"), 0.0);
    EXPECT_D(trigram_score(U"abc", U"ab"), 0.0);
    EXPECT_D(trigram_score(U"abc", U"abc"), 1.0);
    EXPECT_D(trigram_score(U"abcabcabc", U"abcabcabc"), 1.0);
    EXPECT_D(trigram_score(U"abcd", U"abce"), 0.5);
    EXPECT_D(trigram_score(U"aaaa", U"aaa"), 0.6666666666666666);
    EXPECT_D(trigram_score(U"aaa", U"aaaa"), 0.6666666666666666);
    EXPECT_D(trigram_score(U"abc", U"abcd"), 0.6666666666666666);
    EXPECT_D(trigram_score(U"abc", U"xabc"), 0.6666666666666666);
    EXPECT_D(trigram_score(U"\u65E5\u672C\u8A9E", U"\u65E5\u672C\u8A9E"), 1.0);
    EXPECT_D(trigram_score(U"\u65E5\u672C\u8A9E", U"\u65E5\u672C"), 0.0);
    EXPECT_D(trigram_score(U"a bc", U"abc"), 0.0);
    EXPECT_D(trigram_score(U"a b", U"a b"), 1.0);
    // Multiplicity on both sides: min(3, 2) + min(1, 0) copies match.
    EXPECT_D(trigram_score(U"aaaaab", U"aaaa"), (2.0 + 2.0) / 6.0);
}

void weighted_score_examples() {
    EXPECT_D(weighted_score(U"", U""), 1.0);
    EXPECT_D(weighted_score(U"martha", U"martha"), 1.0);
    EXPECT_D(weighted_score(U"abc", U""), 0.0);
    EXPECT_D(weighted_score(U"", U"abc"), 0.0);
    EXPECT_D(weighted_score(U"ab", U"cd"), 0.25);
    EXPECT_D(weighted_score(U"", U"x"), 0.25);

    EXPECT_D(weighted_score(U"ab", U"ax"), 0.705);
    EXPECT_D(jaro_winkler_score(U"ab", U"ax"), 0.7);
    EXPECT_D(0.25 + (0.7 * 0.4 + 0.175), 0.705);
    EXPECT_D((0.25 + 0.7 * 0.4) + 0.175, 0.7050000000000001);
    EXPECT_TRUE((0.25 + 0.7 * 0.4) + 0.175 != weighted_score(U"ab", U"ax"));

    EXPECT_D((1.0 - 1.0 / 4.0) * 0.35, 0.26249999999999996);
    EXPECT_D(jaro_winkler_score(U"abcd", U"abce"), 0.8833333333333334);
    EXPECT_D(trigram_score(U"abcd", U"abce"), 0.5);
    EXPECT_D(0.8833333333333334 * 0.4, 0.3533333333333334);
    EXPECT_D(weighted_score(U"abcd", U"abce"), 0.7408333333333333);

    // The inner score takes the strings as they are.
    EXPECT_TRUE(weighted_score(U"Ab", U"aB") != 1.0);

    // L counts characters: two, not six bytes.
    EXPECT_D(weighted_score(U"\u65E5\u672C", U"\u65E5x"), 0.705);
    const std::string nihon = pelgar::text::encode_utf8(U"\u65E5\u672C");
    const std::string nichi_x = pelgar::text::encode_utf8(U"\u65E5x");
    EXPECT_D(weighted_score(std::string_view(nihon), std::string_view(nichi_x)), 0.705);
    EXPECT_D(weighted_score(std::string_view("abcd"), std::string_view("abce")), 0.7408333333333333);
    EXPECT_D(weighted_score(std::string_view(""), std::string_view("")), 1.0);
}

// Pairs where a fused multiply-add in the boost or in j * 0.4 + part moves the last bit,
// so a build that lets the compiler contract floating-point operations fails here.
void contraction_guards() {
    EXPECT_D(jaro_winkler_score(U"aa", U"abbbaa"), 0.5999999999999999);
    EXPECT_D(weighted_score(U"a", U"ab"), 0.7650000000000001);
    EXPECT_D(weighted_score(U"a", U"aaaa"), 0.3975000000000001);
}

// Full (n + 1) x (m + 1) table, kept as the reference for any faster kernel.
std::uint64_t edit_distance_table(std::u32string_view a, std::u32string_view b) {
    const std::size_t n = a.size();
    const std::size_t m = b.size();
    std::vector<std::uint64_t> d((n + 1) * (m + 1));
    auto at = [&](std::size_t i, std::size_t j) -> std::uint64_t& { return d[i * (m + 1) + j]; };
    for (std::size_t i = 0; i <= n; ++i) at(i, 0) = i;
    for (std::size_t j = 0; j <= m; ++j) at(0, j) = j;
    for (std::size_t i = 1; i <= n; ++i)
        for (std::size_t j = 1; j <= m; ++j)
            at(i, j) = a[i - 1] == b[j - 1] ? at(i - 1, j - 1)
                                            : 1 + std::min({at(i - 1, j - 1), at(i - 1, j), at(i, j - 1)});
    return at(n, m);
}

// Every pair of strings over {a, b, c} up to length 5.
void exhaustive_small_alphabet() {
    std::vector<std::u32string> all{U""};
    for (std::size_t start = 0, length = 1; length <= 5; ++length) {
        const std::size_t end = all.size();
        for (std::size_t i = start; i < end; ++i)
            for (char32_t c : {U'a', U'b', U'c'}) all.push_back(all[i] + c);
        start = end;
    }
    int bad_distance = 0, bad_symmetry = 0, bad_range = 0, bad_identity = 0, bad_utf8 = 0;
    for (const auto& a : all) {
        const std::string a8 = pelgar::text::encode_utf8(a);
        for (const auto& b : all) {
            const std::uint64_t d = edit_distance(a, b);
            bad_distance += d != edit_distance_table(a, b);
            bad_distance += d > std::max(a.size(), b.size()) || ((d == 0) != (a == b));
            bad_symmetry += d != edit_distance(b, a);
            bad_symmetry += trigram_score(a, b) != trigram_score(b, a);
            const double j = jaro_winkler_score(a, b);
            const double t = trigram_score(a, b);
            const double w = weighted_score(a, b);
            bad_range += !(j >= 0.0 && j <= 1.0) || !(t >= 0.0 && t <= 1.0) || !(w >= 0.0 && w <= 1.0);
            if (a == b) bad_identity += j != 1.0 || t != 1.0 || w != 1.0;
            bad_utf8 += w != weighted_score(std::string_view(a8), std::string_view(pelgar::text::encode_utf8(b)));
        }
    }
    EXPECT_TRUE(bad_distance == 0);
    EXPECT_TRUE(bad_symmetry == 0);
    EXPECT_TRUE(bad_range == 0);
    EXPECT_TRUE(bad_identity == 0);
    EXPECT_TRUE(bad_utf8 == 0);
}

// Longer pairs, past any 64-character block boundary, against the full table.
void long_random_pairs() {
    std::uint64_t state = 0x9E3779B97F4A7C15ULL;
    auto next = [&] {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return state >> 33;
    };
    const char32_t alphabet[] = {U'a', U'b', U'c', U'd', U'\u00E9', U'\U0001F600'};
    int mismatches = 0;
    for (int round = 0; round < 200; ++round) {
        std::u32string a, b;
        const std::size_t n = next() % 200, m = next() % 200;
        for (std::size_t i = 0; i < n; ++i) a.push_back(alphabet[next() % (round % 2 ? 2 : 6)]);
        for (std::size_t i = 0; i < m; ++i) b.push_back(alphabet[next() % (round % 2 ? 2 : 6)]);
        mismatches += edit_distance(a, b) != edit_distance_table(a, b);
    }
    EXPECT_TRUE(mismatches == 0);
    EXPECT_U(edit_distance(u32(std::string(300, 'a')), u32(std::string(100, 'a'))), 200);
}

}  // namespace

int main() {
    levenshtein_examples();
    jaro_winkler_examples();
    trigram_examples();
    weighted_score_examples();
    contraction_guards();
    exhaustive_small_alphabet();
    long_random_pairs();
    if (failures != 0) {
        std::printf("%d check(s) failed\n", failures);
        return 1;
    }
    std::printf("measures: all checks passed\n");
    return 0;
}
