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

// Two texts whose normalised forms need at most this much room between them are kept on the stack.
constexpr std::size_t kInlineCodePoints = 512;

// Room for the normalised form of a text.
std::size_t normalized_room(std::string_view utf8) { return utf8.size(); }  // one code point per byte at most
std::size_t normalized_room(std::u32string_view code_points) {
    return text::max_code_point_growth * code_points.size();
}

// Both normalised strings share one buffer, since neither outlives the measure.
template <class View, class Measure>
auto on_normalized(View a, View b, Measure&& measure) {
    const std::size_t capacity = normalized_room(a) + normalized_room(b);
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

// Keys of code points: ordered as the UTF-8 keys are, and scored as they are once decoded.
template <class Key>
double on_keys(std::u32string_view a, std::u32string_view b, Key&& key) {
    return on_normalized(a, b, [&](std::u32string_view x, std::u32string_view y) {
        const std::u32string ka = key(x);
        const std::u32string kb = key(y);
        return weighted_score(std::u32string_view(ka), std::u32string_view(kb));
    });
}

// Each two-string function, for texts of either form.
template <class View>
std::uint64_t levenshtein_of(View a, View b) {
    return on_normalized(a, b, [](std::u32string_view x, std::u32string_view y) { return edit_distance(x, y); });
}

template <class View>
double jaro_winkler_of(View a, View b) {
    return on_normalized(a, b, [](std::u32string_view x, std::u32string_view y) { return jaro_winkler_score(x, y); });
}

template <class View>
double trigram_similarity_of(View a, View b) {
    return on_normalized(a, b, [](std::u32string_view x, std::u32string_view y) { return trigram_score(x, y); });
}

template <class View>
double combined_score_of(View a, View b) {
    return on_normalized(a, b, [](std::u32string_view x, std::u32string_view y) { return weighted_score(x, y); });
}

}  // namespace

std::uint64_t levenshtein(std::string_view a, std::string_view b) { return levenshtein_of(a, b); }
double jaro_winkler(std::string_view a, std::string_view b) { return jaro_winkler_of(a, b); }
double trigram_similarity(std::string_view a, std::string_view b) { return trigram_similarity_of(a, b); }
double combined_score(std::string_view a, std::string_view b) { return combined_score_of(a, b); }

double token_sort_ratio(std::string_view a, std::string_view b) {
    return on_keys(a, b, [](const std::string& normalized) { return text::token_sort_key(normalized); });
}

double token_set_ratio(std::string_view a, std::string_view b) {
    return on_keys(a, b, [](const std::string& normalized) { return text::token_set_key(normalized); });
}

std::uint64_t levenshtein(std::u32string_view a, std::u32string_view b) { return levenshtein_of(a, b); }
double jaro_winkler(std::u32string_view a, std::u32string_view b) { return jaro_winkler_of(a, b); }
double trigram_similarity(std::u32string_view a, std::u32string_view b) { return trigram_similarity_of(a, b); }
double combined_score(std::u32string_view a, std::u32string_view b) { return combined_score_of(a, b); }

double token_sort_ratio(std::u32string_view a, std::u32string_view b) {
    return on_keys(a, b, [](std::u32string_view normalized) { return text::token_sort_key(normalized); });
}

double token_set_ratio(std::u32string_view a, std::u32string_view b) {
    return on_keys(a, b, [](std::u32string_view normalized) { return text::token_set_key(normalized); });
}

}  // namespace pelgar::measures
