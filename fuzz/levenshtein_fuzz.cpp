// The bit-parallel edit distance, one-off and prepared, against the plain table.
#include "fuzz_input.hpp"
#include "measures/levenshtein.hpp"
#include "reference_measures.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelgar;
    const auto parts = fuzz::split_code_points(data, size);
    const std::u32string& a = parts[0];
    const std::u32string b = parts.size() > 1 ? parts[1] : std::u32string();
    const std::uint64_t expected = reference::reference_edit_distance(a, b);
    fuzz::check(measures::edit_distance(a, b) == expected, "edit_distance differs from the table");
    fuzz::check(measures::LevenshteinPattern(a).distance(b) == expected, "LevenshteinPattern differs from the table");
    return 0;
}
