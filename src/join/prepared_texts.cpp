#include "join/prepared_texts.hpp"

#include <algorithm>
#include <limits>

#include "common/internal_failure.hpp"
#include "text/normalize.hpp"
#include "text/tokens.hpp"
#include "text/utf8.hpp"

namespace pelgar::join {

std::optional<Scorer> scorer_from_name(std::string_view name) {
    if (name == "combined") return Scorer::combined;
    if (name == "token_sort") return Scorer::token_sort;
    if (name == "token_set") return Scorer::token_set;
    return std::nullopt;
}

std::string prepare_key(std::string_view text, Scorer scorer) {
    std::string normalized = text::normalize(text);
    switch (scorer) {
        case Scorer::token_sort:
            return text::token_sort_key(normalized);
        case Scorer::token_set:
            return text::token_set_key(normalized);
        case Scorer::combined:
            break;
    }
    return normalized;
}

void PreparedTexts::reserve(std::size_t texts) {
    keys_.reserve(texts);
    lengths_.reserve(texts);
}

void PreparedTexts::add_key(std::string_view key) {
    const auto length = static_cast<std::size_t>(
        std::count_if(key.begin(), key.end(), [](unsigned char byte) { return !text::is_continuation_byte(byte); }));
    if (length >= kMissing) throw InternalFailure("a text of 2^32 characters or more cannot be indexed");
    keys_.push_back(key);
    lengths_.push_back(static_cast<std::uint32_t>(length));
}

void PreparedTexts::add_missing() {
    keys_.push_back({});
    lengths_.push_back(kMissing);
}

std::size_t PreparedTexts::memory_bytes() const noexcept {
    return keys_.memory_bytes() + lengths_.capacity() * sizeof(std::uint32_t);
}

}  // namespace pelgar::join
