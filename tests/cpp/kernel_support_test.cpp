// The layer the kernels share, checked on its own: the character table through growth and
// collisions, the small buffer across its inline limit, the bit helpers and popcount
// difference over their whole domain or at random, common affixes and the Myers step
// against brute force over every pair of short strings on two letters.

#include <bit>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "measures/kernel_support.hpp"
#include "measures/score_weights.hpp"

namespace {

namespace kernel = pelgar::measures::kernel;

int failures = 0;

void check(bool ok, const char* what, long long detail = 0) {
    if (ok) return;
    ++failures;
    std::printf("FAIL %s (%lld)\n", what, detail);
}

void char_table() {
    // Latin-1, the first code points past it, and astral ones; far more than the inline slots.
    std::vector<char32_t> keys;
    for (char32_t c = 0; c < 256; c += 3) keys.push_back(c);
    for (char32_t c = 0x100; c < 0x100 + 700; ++c) keys.push_back(c);
    for (char32_t c = 0x1F600; c < 0x1F600 + 300; c += 7) keys.push_back(c);
    // Multiples of a large power of two collide in the low bits of many hashes.
    for (char32_t c = 1; c <= 16; ++c) keys.push_back(c << 16);
    kernel::CharTable<std::uint32_t> table;
    std::uint32_t next = 0;
    for (const char32_t c : keys) {
        std::uint32_t& row = table.entry(c);
        check(row == 0, "a new entry starts at 0", c);
        row = ++next;
    }
    for (std::size_t i = 0; i < keys.size(); ++i) {
        check(table.find(keys[i]) == i + 1, "find after growth", keys[i]);
        check(table.entry(keys[i]) == i + 1, "entry of a present character", keys[i]);
    }
    for (const char32_t absent : {char32_t{1}, char32_t{0xFE}, char32_t{0x100 + 700}, char32_t{0x10FFFF},
                                  char32_t{0x1F601}, char32_t{17 << 16}})
        check(table.find(absent) == 0, "absent character", absent);

    // A copy is independent of the original.
    kernel::CharTable<std::uint32_t> copy = table;
    copy.entry(0x2000) = 99;
    check(copy.find(0x2000) == 99 && table.find(0x2000) == 0, "copies are independent");
    check(copy.find(keys.back()) == keys.size(), "a copy keeps the entries");

    const kernel::CharTable<std::uint8_t> empty;
    for (const char32_t c : {char32_t{0}, char32_t{'a'}, char32_t{0x100}, char32_t{0x10FFFF}})
        check(empty.find(c) == 0, "empty table", c);
}

void small_buffer() {
    for (const std::size_t size : {std::size_t{0}, std::size_t{1}, std::size_t{7}, std::size_t{8},
                                   std::size_t{9}, std::size_t{100}}) {
        kernel::SmallBuffer<std::uint32_t, 8> buffer;
        std::uint32_t* data = buffer.reset(size);
        for (std::size_t i = 0; i < size; ++i) data[i] = static_cast<std::uint32_t>(i * 7 + 1);
        const kernel::SmallBuffer<std::uint32_t, 8> copy = buffer;
        check(copy.size() == size, "copy size", static_cast<long long>(size));
        for (std::size_t i = 0; i < size; ++i) check(copy.data()[i] == i * 7 + 1, "copy contents", static_cast<long long>(i));
        // Going inline after the heap, and back, keeps working.
        buffer.reset(2)[1] = 5;
        check(buffer.data()[1] == 5 && buffer.size() == 2, "inline after heap");
        buffer.reset(200)[199] = 6;
        check(buffer.data()[199] == 6, "heap after inline");
    }
}

void bit_helpers() {
    for (std::size_t k = 0; k < 64; ++k) {
        check(kernel::bits_from(k) == ~std::uint64_t{0} << k, "bits_from", static_cast<long long>(k));
        check(std::popcount(kernel::bits_below(k)) == static_cast<int>(k) && kernel::bits_below(k) >> k == 0,
              "bits_below", static_cast<long long>(k));
    }
    check(kernel::bits_below(64) == ~std::uint64_t{0}, "bits_below(64)");
    check(kernel::lowest_bit(0) == 0, "lowest_bit(0)");
    std::mt19937_64 rng(5);
    for (int i = 0; i < 200000; ++i) {
        // Sparse and dense words alike.
        const std::uint64_t plus = rng() & (i % 2 ? rng() : ~std::uint64_t{0});
        const std::uint64_t minus = rng() & (i % 3 ? rng() & rng() : ~std::uint64_t{0});
        check(kernel::count_difference(plus, minus) == std::popcount(plus) - std::popcount(minus),
              "count_difference", i);
        if (plus != 0) check(kernel::lowest_bit(plus) == std::uint64_t{1} << std::countr_zero(plus), "lowest_bit", i);
    }
    check(kernel::count_difference(~std::uint64_t{0}, 0) == 64, "count_difference all / none");
    check(kernel::count_difference(0, ~std::uint64_t{0}) == -64, "count_difference none / all");
}

// Every string over {a, b} of length 0 to max_length.
std::vector<std::u32string> all_strings(std::size_t max_length) {
    std::vector<std::u32string> out{U""};
    for (std::size_t begin = 0; out.back().size() < max_length;) {
        const std::size_t end = out.size();
        for (std::size_t i = begin; i < end; ++i) {
            out.push_back(out[i] + U'a');
            out.push_back(out[i] + U'b');
        }
        begin = end;
    }
    return out;
}

std::uint64_t table_distance(std::u32string_view a, std::u32string_view b) {
    std::vector<std::uint64_t> row(b.size() + 1);
    for (std::size_t j = 0; j <= b.size(); ++j) row[j] = j;
    for (std::size_t i = 1; i <= a.size(); ++i) {
        std::uint64_t diagonal = row[0];
        row[0] = i;
        for (std::size_t j = 1; j <= b.size(); ++j) {
            const std::uint64_t up = row[j];
            row[j] = std::min({up + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1])});
            diagonal = up;
        }
    }
    return row[b.size()];
}

// The distance from the Myers steps alone: pattern a (at most 64), text b.
std::uint64_t stepped_distance(std::u32string_view a, std::u32string_view b) {
    if (a.empty()) return b.size();
    std::uint64_t vp = ~std::uint64_t{0};
    std::uint64_t vn = 0;
    std::uint64_t score = a.size();
    const std::uint64_t last = std::uint64_t{1} << (a.size() - 1);
    for (const char32_t c : b) {
        std::uint64_t eq = 0;
        for (std::size_t i = 0; i < a.size(); ++i) eq |= std::uint64_t{a[i] == c} << i;
        const kernel::HorizontalSteps step = kernel::myers_step(eq, vp, vn);
        score += (step.hp & last) != 0;
        score -= (step.hn & last) != 0;
    }
    return score;
}

void affixes_and_myers_step() {
    const std::vector<std::u32string> strings = all_strings(7);
    long long pairs = 0;
    for (const std::u32string& a : strings) {
        for (const std::u32string& b : strings) {
            const kernel::Affixes got = kernel::common_affixes(a, b);
            std::size_t prefix = 0;
            while (prefix < a.size() && prefix < b.size() && a[prefix] == b[prefix]) ++prefix;
            std::size_t suffix = 0;
            while (suffix < a.size() - prefix && suffix < b.size() - prefix &&
                   a[a.size() - 1 - suffix] == b[b.size() - 1 - suffix])
                ++suffix;
            check(got.prefix == prefix && got.suffix == suffix, "common_affixes", pairs);
            check(stepped_distance(a, b) == table_distance(a, b), "myers_step distance", pairs);
            ++pairs;
        }
    }
    // The full width of one word, where the top bit carries out.
    std::mt19937_64 rng(9);
    for (int i = 0; i < 2000; ++i) {
        std::u32string a(60 + rng() % 5, U'a'), b(rng() % 80, U'a');
        for (char32_t& c : a) c = U'a' + static_cast<char32_t>(rng() % 3);
        for (char32_t& c : b) c = U'a' + static_cast<char32_t>(rng() % 3);
        check(stepped_distance(a, b) == table_distance(a, b), "myers_step distance, 60 to 64 rows", i);
    }
}

void weights() {
    namespace w = pelgar::measures::weights;
    // The three parts of a perfect score add up to exactly 1.
    check(w::kTrigram + (w::kJaroWinkler + w::kEdit) == 1.0, "weights add up to 1");
    for (std::size_t p = 1; p <= w::kMaxPrefix; ++p)
        check(w::kPrefixBoost[p] > w::kPrefixBoost[p - 1], "boost grows with the prefix", static_cast<long long>(p));
}

}  // namespace

int main() {
    char_table();
    small_buffer();
    bit_helpers();
    affixes_and_myers_step();
    weights();
    if (failures != 0) {
        std::printf("kernel_support_test: %d failures\n", failures);
        return 1;
    }
    std::printf("kernel_support_test: all checks passed\n");
    return 0;
}
