// Trigram similarity, one-off and prepared, against counting in a hash table, bit for bit.
#include "fuzz_input.hpp"
#include "measures/trigram.hpp"
#include "reference_measures.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelgar;
    const auto parts = fuzz::split_code_points(data, size);
    const std::u32string& a = parts[0];
    const std::u32string b = parts.size() > 1 ? parts[1] : std::u32string();
    const double expected = reference::reference_trigram(a, b);
    fuzz::check(fuzz::same_bits(measures::trigram_score(a, b), expected), "trigram_score differs");
    fuzz::check(fuzz::same_bits(measures::TrigramPattern(a).score(b), expected), "TrigramPattern differs");
    return 0;
}
