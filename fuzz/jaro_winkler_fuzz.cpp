// Jaro-Winkler, one-off and prepared, against the plain greedy model, bit for bit.
#include "fuzz_input.hpp"
#include "measures/jaro_winkler.hpp"
#include "reference_measures.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelgar;
    const auto parts = fuzz::split_code_points(data, size);
    const std::u32string& a = parts[0];
    const std::u32string b = parts.size() > 1 ? parts[1] : std::u32string();
    const double expected = reference::reference_jaro_winkler(a, b);
    fuzz::check(fuzz::same_bits(measures::jaro_winkler_score(a, b), expected), "jaro_winkler_score differs");
    fuzz::check(fuzz::same_bits(measures::JaroWinklerPattern(a).score(b), expected), "JaroWinklerPattern differs");
    return 0;
}
