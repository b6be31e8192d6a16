#include "text/tokens.hpp"

#include <algorithm>

#include "text/utf8.hpp"
#include "text/white_space.hpp"

namespace pelgar::text {

namespace {

template <class Char>
std::basic_string<Char> join_tokens(const std::vector<std::basic_string_view<Char>>& tokens) {
    std::size_t size = tokens.size();
    for (std::basic_string_view<Char> token : tokens) size += token.size();
    std::basic_string<Char> key;
    key.reserve(size);  // one allocation, not one per doubling
    for (std::basic_string_view<Char> token : tokens) {
        if (!key.empty()) key.push_back(Char(' '));
        key.append(token);
    }
    return key;
}

template <class Char>
std::vector<std::basic_string_view<Char>> split(std::basic_string_view<Char> text) {
    std::vector<std::basic_string_view<Char>> tokens;
    tokens.reserve(8);  // names have a handful of tokens: one allocation instead of four
    std::size_t start = 0;
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t here = pos;
        if (is_white_space(decode_next(text, pos))) {
            if (here > start) tokens.push_back(text.substr(start, here - start));
            start = pos;
        }
    }
    if (text.size() > start) tokens.push_back(text.substr(start));
    return tokens;
}

// string_view ordering compares bytes as unsigned char, and u32string_view compares code
// points: both are the order of the code points.
template <class Char>
std::basic_string<Char> sort_key(std::basic_string_view<Char> normalized) {
    std::vector<std::basic_string_view<Char>> tokens = split(normalized);
    std::sort(tokens.begin(), tokens.end());
    return join_tokens(tokens);
}

template <class Char>
std::basic_string<Char> set_key(std::basic_string_view<Char> normalized) {
    std::vector<std::basic_string_view<Char>> tokens = split(normalized);
    std::sort(tokens.begin(), tokens.end());
    tokens.erase(std::unique(tokens.begin(), tokens.end()), tokens.end());
    return join_tokens(tokens);
}

}  // namespace

std::vector<std::string_view> split_tokens(std::string_view text) { return split(text); }

std::string token_sort_key(std::string_view normalized) { return sort_key(normalized); }
std::u32string token_sort_key(std::u32string_view normalized) { return sort_key(normalized); }

std::string token_set_key(std::string_view normalized) { return set_key(normalized); }
std::u32string token_set_key(std::u32string_view normalized) { return set_key(normalized); }

}  // namespace pelgar::text
