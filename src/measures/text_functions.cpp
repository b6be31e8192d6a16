#include "measures/text_functions.hpp"

#include <cstddef>
#include <memory>
#include <string>

#include "measures/jaro_winkler.hpp"
#include "measures/levenshtein.hpp"
#include "measures/trigram.hpp"
#include "measures/weighted_score.hpp"
#include "text/normalize.hpp"
#include "text/tokens.hpp"

namespace pelgar::measures {

namespace {

// Texts with up to this many bytes between them are normalised on the stack.
constexpr std::size_t kInlineCodePoints = 512;

// Both normalised strings share one buffer, since neither outlives the measure.
template <class Measure>
auto on_normalized(std::string_view a, std::string_view b, Measure&& measure) {
    const std::size_t capacity = a.size() + b.size();  // one code point per byte at most
    char32_t inline_buffer[kInlineCodePoints];
    std::unique_ptr<char32_t[]> heap_buffer;
    char32_t* const start = capacity <= kInlineCodePoints
                                ? inline_buffer
                                : (heap_buffer = std::make_unique_for_overwrite<char32_t[]>(capacity)).get();
    char32_t* const a_end = text::normalize_into(a, start);
    char32_t* const b_end = text::normalize_into(b, a_end);
    return measure(std::u32string_view(start, static_cast<std::size_t>(a_end - start)),
                   std::u32string_view(a_end, static_cast<std::size_t>(b_end - a_end)));
}

template <class Key>
double on_keys(std::string_view a, std::string_view b, Key&& key) {
    const std::string ka = key(text::normalize(a));
    const std::string kb = key(text::normalize(b));
    return weighted_score(std::string_view(ka), std::string_view(kb));
}

}  // namespace

std::uint64_t levenshtein(std::string_view a, std::string_view b) {
    return on_normalized(a, b, [](std::u32string_view x, std::u32string_view y) { return edit_distance(x, y); });
}

double jaro_winkler(std::string_view a, std::string_view b) {
    return on_normalized(a, b, [](std::u32string_view x, std::u32string_view y) { return jaro_winkler_score(x, y); });
}

double trigram_similarity(std::string_view a, std::string_view b) {
    return on_normalized(a, b, [](std::u32string_view x, std::u32string_view y) { return trigram_score(x, y); });
}

double combined_score(std::string_view a, std::string_view b) {
    return on_normalized(a, b, [](std::u32string_view x, std::u32string_view y) { return weighted_score(x, y); });
}

double token_sort_ratio(std::string_view a, std::string_view b) {
    return on_keys(a, b, [](const std::string& normalized) { return text::token_sort_key(normalized); });
}

double token_set_ratio(std::string_view a, std::string_view b) {
    return on_keys(a, b, [](const std::string& normalized) { return text::token_set_key(normalized); });
}

}  // namespace pelgar::measures
