// Runs normalize over length-prefixed UTF-8 records from stdin and writes the results to stdout
// in the same framing (4-byte little-endian length, then the bytes). Both forms of normalize_into
// must agree with normalize on every record. With --self-test, checks fixed examples instead.
#include <cstdint>
#include <cstdio>
#include <iostream>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "text/normalize.hpp"
#include "text/utf8.hpp"
#include "text/white_space.hpp"

namespace {

using pelgar::text::decode_utf8;
using pelgar::text::encode_utf8;
using pelgar::text::is_white_space;
using pelgar::text::normalize;
using pelgar::text::normalize_into;

// normalize_into over a buffer of exactly text.size() code points, followed by guards that
// must stay untouched; an overrun comes back as a sentinel at the end.
std::u32string into_buffer(std::string_view text) {
    constexpr char32_t guard = 0xFFFFFFFFu;
    std::vector<char32_t> buffer(text.size() + 8, guard);
    char32_t* const end = normalize_into(text, buffer.data());
    std::u32string result(buffer.data(), end);
    for (std::size_t i = text.size(); i < buffer.size(); ++i)
        if (buffer[i] != guard) result.push_back(guard);
    return result;
}

std::string show(std::u32string_view text) {
    std::string out = "[";
    char hex[16];
    for (char32_t cp : text) {
        std::snprintf(hex, sizeof hex, "%s%04X", out.size() > 1 ? " " : "", static_cast<unsigned>(cp));
        out += hex;
    }
    return out + "]";
}

struct Example {
    const char* what;
    std::u32string input;
    std::u32string expected;
};

int self_test() {
    const std::vector<Example> examples = {
        {"trim, lowercase, drop accent", U"  Caf\u00E9\t", U"cafe"},
        {"decomposed accent", U"Cafe\u0301", U"cafe"},
        {"capitals with accent", U"\u00C9COLE", U"ecole"},
        {"angstrom word", U"\u00C5ngstr\u00F6m", U"angstrom"},
        {"angstrom sign", U"\u212B", U"a"},
        {"capital I with dot", U"\u0130stanbul", U"istanbul"},
        {"final sigma", U"\u039F\u0394\u039F\u03A3", U"\u03BF\u03B4\u03BF\u03C2"},
        {"lone sigma", U"\u03A3", U"\u03C3"},
        {"sigma at both ends", U"\u03A3\u0391\u03A3", U"\u03C3\u03B1\u03C2"},
        {"final sigma before full stop", U"\u039F\u0394\u039F\u03A3.", U"\u03BF\u03B4\u03BF\u03C2."},
        {"sigma before apostrophe and letter", U"\u0391\u03A3'\u0392", U"\u03B1\u03C3'\u03B2"},
        {"sigma after space is not final", U"\u0391 \u03A3", U"\u03B1 \u03C3"},
        {"sigma after case-ignorable only", U"'\u03A3", U"'\u03C3"},
        {"sigma between cased letter and case-ignorable", U"\u0391\u03A3\u00AD", U"\u03B1\u03C2\u00AD"},
        {"cased and case-ignorable is skipped", U"\u02B0\u03A3", U"\u02B0\u03C3"},
        {"sigma before a space is final", U"\u0391\u03A3 \u0392", U"\u03B1\u03C2 \u03B2"},
        {"tonos", U"\u0386", U"\u03B1"},
        {"no folding of sharp s", U"Stra\u00DFe", U"stra\u00DFe"},
        {"capitals stay apart from sharp s", U"STRASSE", U"strasse"},
        {"capital sharp s", U"\u1E9E", U"\u00DF"},
        {"voiced kana", U"\u304C", U"\u304B"},
        {"devanagari vowel signs and virama", U"\u0939\u093F\u0902\u0926\u0940", U"\u0939\u0926"},
        {"hangul syllables", U"\uD55C\uAD6D\uC5B4", U"\uD55C\uAD6D\uC5B4"},
        {"hangul jamo compose", U"\u1112\u1161\u11AB", U"\uD55C"},
        {"hangul jamo across dropped mark", U"\u1112\u0301\u1161", U"\uD558"},
        {"fullwidth", U"\uFF21", U"\uFF41"},
        {"ligature", U"\uFB01", U"\uFB01"},
        {"dz digraph", U"\u01C4", U"\u01C6"},
        {"inner whitespace", U"New  York", U"new  york"},
        {"zero width space is kept", U"\u200Bx\u200B", U"\u200Bx\u200B"},
        {"no-break space trimmed", U"\u00A0x\u00A0", U"x"},
        {"ideographic space trimmed", U"\u3000x\u3000", U"x"},
        {"mark outside whitespace", U"\u0301 x", U" x"},
        {"marks only", U"\u0301\u0308", U""},
        {"empty", U"", U""},
        {"whitespace only", U" \t\u2028\u3000", U""},
        {"extended marks of Unicode 17.0", U"a\u1ACF\u1ADD\u1AEB", U"a"},
        {"kirat rai vowel signs compose", U"\U00016D63\U00016D67\U00016D67", U"\U00016D6A"},
        {"kirat rai decomposed and recomposed", U"\U00016D68", U"\U00016D68"},
        {"astral capital", U"\U00010400", U"\U00010428"},
    };
    int failures = 0;
    std::u32string into;
    for (const Example& example : examples) {
        const std::string utf8 = encode_utf8(example.input);
        const std::u32string got = decode_utf8(normalize(utf8));
        normalize_into(utf8, into);
        if (got != example.expected || into != example.expected || into_buffer(utf8) != example.expected) {
            ++failures;
            std::cerr << "FAIL " << example.what << ": input " << show(example.input) << " expected "
                      << show(example.expected) << " normalize " << show(got) << " normalize_into "
                      << show(into) << "\n";
        }
    }
    // A normalised string is normalised already, unless whitespace was uncovered by dropped marks.
    for (const Example& example : examples) {
        const std::string once = normalize(encode_utf8(example.input));
        const std::string twice = normalize(once);
        const std::u32string points = decode_utf8(once);
        const bool uncovered = !points.empty() && (is_white_space(points.front()) || is_white_space(points.back()));
        if (twice != once && !uncovered) {
            ++failures;
            std::cerr << "FAIL " << example.what << ": normalising again changed " << show(decode_utf8(once))
                      << " into " << show(decode_utf8(twice)) << "\n";
        }
    }
    if (failures == 0) std::cout << "self-test passed: " << examples.size() << " examples\n";
    return failures == 0 ? 0 : 1;
}

std::uint32_t read_length(const std::string& data, std::size_t pos) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(data[pos])) |
           static_cast<std::uint32_t>(static_cast<unsigned char>(data[pos + 1])) << 8 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(data[pos + 2])) << 16 |
           static_cast<std::uint32_t>(static_cast<unsigned char>(data[pos + 3])) << 24;
}

void write_record(std::string& out, std::string_view bytes) {
    const auto size = static_cast<std::uint32_t>(bytes.size());
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>((size >> shift) & 0xFF));
    out.append(bytes);
}

int probe() {
    std::ios::sync_with_stdio(false);
    const std::string data{std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>()};
    std::string out;
    out.reserve(data.size());
    std::u32string into;
    std::size_t record = 0;
    for (std::size_t pos = 0; pos < data.size(); ++record) {
        if (data.size() - pos < 4 || data.size() - pos - 4 < read_length(data, pos)) {
            std::cerr << "truncated record " << record << "\n";
            return 2;
        }
        const std::uint32_t size = read_length(data, pos);
        const std::string_view input(data.data() + pos + 4, size);
        pos += 4 + size;
        const std::string result = normalize(input);
        normalize_into(input, into);
        const std::u32string buffered = into_buffer(input);
        if (decode_utf8(result) != into || buffered != into) {
            std::cerr << "record " << record << ": normalize gives " << show(decode_utf8(result))
                      << " but normalize_into gives " << show(into) << " and " << show(buffered) << "\n";
            return 1;
        }
        write_record(out, result);
    }
    std::cout.write(out.data(), static_cast<std::streamsize>(out.size()));
    std::cout.flush();
    return std::cout ? 0 : 3;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string_view(argv[1]) == "--self-test") return self_test();
    if (argc != 1) {
        std::cerr << "usage: normalize_probe [--self-test] < records\n";
        return 2;
    }
    return probe();
}
