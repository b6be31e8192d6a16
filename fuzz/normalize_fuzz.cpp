// normalize on valid UTF-8: valid UTF-8 out, no marks left, the entry points agree (also
// those that read code points, within the room they promise),
// and a second pass changes nothing but edge whitespace, which stands there only when marks
// stood outside it in the input.
#include "fuzz_input.hpp"
#include "text/normalize.hpp"
#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"
#include "text/white_space.hpp"

namespace {

std::u32string_view trimmed(std::u32string_view text) {
    while (!text.empty() && pelgar::text::is_white_space(text.front())) text.remove_prefix(1);
    while (!text.empty() && pelgar::text::is_white_space(text.back())) text.remove_suffix(1);
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace pelgar;
    const std::string_view input = fuzz::as_text(data, size);
    if (!fuzz::is_valid_utf8(input)) return 0;

    const std::string once = text::normalize(input);
    fuzz::check(fuzz::is_valid_utf8(once), "output is not valid UTF-8");
    const std::u32string code_points = text::decode_utf8(once);
    for (char32_t cp : code_points)
        fuzz::check((text::unicode::record(cp).flags & text::unicode::flag_mark) == 0, "a mark is left");

    std::u32string into;
    text::normalize_into(input, into);
    fuzz::check(into == code_points, "normalize_into (string) differs from normalize");
    std::u32string buffer(input.size(), U'\0');
    const char32_t* end = text::normalize_into(input, buffer.data());
    fuzz::check(std::u32string_view(buffer.data(), static_cast<std::size_t>(end - buffer.data())) == code_points,
                "normalize_into (buffer) differs from normalize");

    const std::u32string decoded = text::decode_utf8(input);
    fuzz::check(text::normalize(std::u32string_view(decoded)) == code_points,
                "normalize (code points) differs from normalize");
    std::u32string room(text::max_code_point_growth * decoded.size(), U'\0');
    end = text::normalize_into(std::u32string_view(decoded), room.data());
    fuzz::check(std::u32string_view(room.data(), static_cast<std::size_t>(end - room.data())) == code_points,
                "normalize_into (code points) differs from normalize");

    const std::u32string twice = text::decode_utf8(text::normalize(once));
    fuzz::check(twice == trimmed(code_points), "a second pass changes more than edge whitespace");
    return 0;
}
