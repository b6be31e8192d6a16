// Token keys on the examples that pin their rules down; exits non-zero on any failure.
#include <cstdio>
#include <string>
#include <vector>

#include "text/tokens.hpp"

namespace {

int failures = 0;

void expect_keys(const std::string& text, const std::string& sort_key, const std::string& set_key) {
    const std::string got_sort = pelgar::text::token_sort_key(text);
    const std::string got_set = pelgar::text::token_set_key(text);
    if (got_sort != sort_key || got_set != set_key) {
        std::printf("FAIL keys of [%s]: sort [%s] (want [%s]), set [%s] (want [%s])\n", text.c_str(),
                    got_sort.c_str(), sort_key.c_str(), got_set.c_str(), set_key.c_str());
        ++failures;
    }
}

void expect_tokens(const std::string& text, const std::vector<std::string>& tokens) {
    const auto got = pelgar::text::split_tokens(text);
    if (std::vector<std::string>(got.begin(), got.end()) != tokens) {
        std::printf("FAIL tokens of [%s]: %zu tokens\n", text.c_str(), got.size());
        ++failures;
    }
}

}  // namespace

int main() {
    expect_keys("", "", "");
    expect_keys(" \t\u3000 ", "", "");
    expect_keys("word", "word", "word");
    expect_keys("b a a", "a a b", "a b");
    expect_keys("a  b\tc", "a b c", "a b c");
    expect_keys("x\u00a0y", "x y", "x y");
    expect_keys("x\u200by", "x\u200by", "x\u200by");
    expect_keys("x\x1fy", "x\x1fy", "x\x1fy");
    expect_keys("b10 b9 b1", "b1 b10 b9", "b1 b10 b9");
    expect_keys("ab a", "a ab", "a ab");
    expect_keys("z \u00df a", "a z \u00df", "a z \u00df");
    expect_keys("a b a c a", "a a a b c", "a b c");
    expect_keys("\U0001F600 \uFFFD \u00e9", "\u00e9 \uFFFD \U0001F600", "\u00e9 \uFFFD \U0001F600");

    expect_tokens("  lead and trail  ", {"lead", "and", "trail"});
    expect_tokens("a\u2028\u2029\u202f\u205f\u0085b", {"a", "b"});
    expect_tokens("\ufeffa\u180eb", {"\ufeffa\u180eb"});
    expect_tokens("\u1680", {});

    if (failures) std::printf("%d failure(s)\n", failures);
    return failures ? 1 : 0;
}
