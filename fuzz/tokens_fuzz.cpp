// Token splitting and the sort and set keys against a plain model: decode, split at
// White_Space, sort the byte strings, join with single spaces.
#include <algorithm>

#include "fuzz_input.hpp"
#include "text/tokens.hpp"
#include "text/utf8.hpp"
#include "text/white_space.hpp"

namespace {

std::vector<std::string> model_tokens(std::string_view text) {
    std::vector<std::string> tokens(1);
    for (std::size_t pos = 0; pos < text.size();) {
        const std::size_t start = pos;
        const char32_t cp = pelgar::text::decode_next(text, pos);
        if (pelgar::text::is_white_space(cp)) {
            if (!tokens.back().empty()) tokens.emplace_back();
        } else {
            tokens.back().append(text.substr(start, pos - start));
        }
    }
    if (tokens.back().empty()) tokens.pop_back();
    return tokens;
}

std::string join(const std::vector<std::string>& tokens) {
    std::string out;
    for (const std::string& token : tokens) {
        if (!out.empty()) out.push_back(' ');
        out += token;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelgar;
    const std::string_view text = fuzz::as_text(data, size);
    if (!fuzz::is_valid_utf8(text)) return 0;
    std::vector<std::string> tokens = model_tokens(text);
    const auto views = text::split_tokens(text);
    fuzz::check(std::vector<std::string>(views.begin(), views.end()) == tokens, "split_tokens differs");
    std::sort(tokens.begin(), tokens.end(), [](const std::string& x, const std::string& y) {
        return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end(),
                                            [](char p, char q) { return static_cast<unsigned char>(p) < static_cast<unsigned char>(q); });
    });
    fuzz::check(text::token_sort_key(text) == join(tokens), "token_sort_key differs");
    tokens.erase(std::unique(tokens.begin(), tokens.end()), tokens.end());
    fuzz::check(text::token_set_key(text) == join(tokens), "token_set_key differs");
    return 0;
}
