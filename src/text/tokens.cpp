#include "text/tokens.hpp"

#include <algorithm>

#include "text/utf8.hpp"
#include "text/white_space.hpp"

namespace pelgar::text {

namespace {

std::string join_tokens(const std::vector<std::string_view>& tokens) {
    std::size_t size = tokens.size();
    for (std::string_view token : tokens) size += token.size();
    std::string key;
    key.reserve(size);  // one allocation, not one per doubling
    for (std::string_view token : tokens) {
        if (!key.empty()) key.push_back(' ');
        key.append(token);
    }
    return key;
}

}  // namespace

std::vector<std::string_view> split_tokens(std::string_view text) {
    std::vector<std::string_view> tokens;
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

// string_view ordering compares bytes as unsigned char: the order of their code points.
std::string token_sort_key(std::string_view normalized) {
    std::vector<std::string_view> tokens = split_tokens(normalized);
    std::sort(tokens.begin(), tokens.end());
    return join_tokens(tokens);
}

std::string token_set_key(std::string_view normalized) {
    std::vector<std::string_view> tokens = split_tokens(normalized);
    std::sort(tokens.begin(), tokens.end());
    tokens.erase(std::unique(tokens.begin(), tokens.end()), tokens.end());
    return join_tokens(tokens);
}

}  // namespace pelgar::text
