#include "text/normalize.hpp"

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__) && defined(__x86_64__)
#include <emmintrin.h>
#endif

#include "text/code_points.hpp"
#include "text/unicode_tables.hpp"
#include "text/utf8.hpp"
#include "text/white_space.hpp"

namespace pelgar::text {
namespace {

namespace uc = unicode;

constexpr char32_t kCapitalSigma = 0x03A3, kSmallSigma = 0x03C3, kFinalSigma = 0x03C2;
constexpr char32_t kCapitalIDot = 0x0130, kCombiningDotAbove = 0x0307;

inline bool is_ascii_white_space(char32_t cp) { return cp == ' ' || (cp >= 0x09 && cp <= 0x0D); }

inline unsigned char ascii_lower(unsigned char byte) {
    return static_cast<unsigned char>(byte + (static_cast<unsigned char>(byte - 'A') < 26u ? 32 : 0));
}

constexpr std::uint64_t kEveryByte = 0x0101010101010101u;
constexpr std::uint64_t kHighBits = kEveryByte * 0x80;

inline std::uint64_t load_word(const char* data) {
    std::uint64_t word;
    std::memcpy(&word, data, 8);
    return word;
}

// Whole words, the last one overlapping its predecessor, so no byte-by-byte tail from 8 bytes on.
inline bool all_ascii(std::string_view text) {
    const char* data = text.data();
    const std::size_t size = text.size();
    if (size < 8) {
        unsigned char seen = 0;
        for (std::size_t i = 0; i < size; ++i) seen |= static_cast<unsigned char>(data[i]);
        return seen < 0x80;
    }
    std::uint64_t seen = load_word(data + size - 8);
    for (std::size_t i = 0; i + 8 < size; i += 8) seen |= load_word(data + i);
    return (seen & kHighBits) == 0;
}

// Lowercases eight ASCII bytes at once: sets bit 5 in every byte from 'A' to 'Z'.
inline std::uint64_t ascii_lower_word(std::uint64_t word) {
    const std::uint64_t at_least_a = word + kEveryByte * (0x80 - 'A');
    const std::uint64_t above_z = word + kEveryByte * (0x80 - 'Z' - 1);
    return word | (((at_least_a & ~above_z) & kHighBits) >> 2);
}

// Length of the run of ASCII bytes from text[pos], a word at a time. The last few bytes are
// read as the end of the text's last word, so short runs between accents cost one load.
inline std::size_t ascii_run_length(std::string_view text, std::size_t pos) {
    const char* const data = text.data();
    const std::size_t size = text.size();
    std::size_t at = pos;
    if constexpr (std::endian::native == std::endian::little) {
        for (; at + 8 <= size; at += 8)
            if (const std::uint64_t high = load_word(data + at) & kHighBits)
                return at - pos + static_cast<std::size_t>(std::countr_zero(high) / 8);
        if (at == size) return size - pos;
        if (size >= 8) {
            const std::size_t before_at = 8 - (size - at);  // 1 to 7 bytes of the word precede at
            const std::uint64_t high = (load_word(data + size - 8) & kHighBits) >> (8 * before_at);
            return high ? at - pos + static_cast<std::size_t>(std::countr_zero(high) / 8) : size - pos;
        }
    }
    while (at < size && static_cast<unsigned char>(data[at]) < 0x80) ++at;
    return at - pos;
}

// Lowercasing is idempotent, so the overlapping last word may be lowercased twice.
inline void ascii_lower_copy(const char* from, char* to, std::size_t size) {
    if (size < 8) {
        for (std::size_t i = 0; i < size; ++i) to[i] = static_cast<char>(ascii_lower(static_cast<unsigned char>(from[i])));
        return;
    }
    for (std::size_t i = 0; i + 8 < size; i += 8) {
        const std::uint64_t word = ascii_lower_word(load_word(from + i));
        std::memcpy(to + i, &word, 8);
    }
    const std::uint64_t last = ascii_lower_word(load_word(from + size - 8));
    std::memcpy(to + size - 8, &last, 8);
}

// The same, widened to code points. Eight at a time where byte order allows, which for names
// of ten to thirty letters beats what the compiler makes of the plain loop.
inline void ascii_lower_widen(const char* from, char32_t* to, std::size_t size) {
    if (std::endian::native != std::endian::little || size < 8) {
        for (std::size_t i = 0; i < size; ++i) to[i] = ascii_lower(static_cast<unsigned char>(from[i]));
        return;
    }
    auto widen = [](std::uint64_t word, char32_t* out) {
#if defined(__SSE2__) && defined(__x86_64__)
        const __m128i zero = _mm_setzero_si128();
        const __m128i halves = _mm_unpacklo_epi8(_mm_cvtsi64_si128(static_cast<long long>(word)), zero);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out), _mm_unpacklo_epi16(halves, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 4), _mm_unpackhi_epi16(halves, zero));
#else
        for (int k = 0; k < 8; ++k) out[k] = static_cast<char32_t>((word >> (8 * k)) & 0xFF);
#endif
    };
    for (std::size_t i = 0; i + 8 < size; i += 8) widen(ascii_lower_word(load_word(from + i)), to + i);
    widen(ascii_lower_word(load_word(from + size - 8)), to + size - 8);
}

// The same helpers for text held as code points.
using text::ascii_lower;
using text::ascii_run_length;

// Code points need no widening.
inline void ascii_lower_widen(const char32_t* from, char32_t* to, std::size_t size) {
    ascii_lower_code_points(from, to, size);
}

// Offset of the character that ends just before pos.
inline std::size_t previous_char_start(std::string_view text, std::size_t pos) {
    do --pos;
    while (is_continuation_byte(static_cast<unsigned char>(text[pos])));
    return pos;
}

// Code points: one unit per character.
inline std::size_t previous_char_start(std::u32string_view, std::size_t pos) { return pos - 1; }

// A text's unit as a value: a byte of UTF-8, or a code point.
inline unsigned char unit_value(char byte) { return static_cast<unsigned char>(byte); }
inline char32_t unit_value(char32_t cp) { return cp; }

template <class Char>
std::basic_string_view<Char> trim(std::basic_string_view<Char> text) {
    std::size_t begin = 0;
    std::size_t end = text.size();
    while (begin < end) {
        const auto unit = unit_value(text[begin]);
        if (unit < 0x80) {
            if (!is_ascii_white_space(unit)) break;
            ++begin;
            continue;
        }
        std::size_t next = begin;
        if (!is_white_space(decode_next(text, next))) break;
        begin = next;
    }
    while (end > begin) {
        const auto unit = unit_value(text[end - 1]);
        if (unit < 0x80) {
            if (!is_ascii_white_space(unit)) break;
            --end;
            continue;
        }
        const std::size_t start = previous_char_start(text, end);
        std::size_t next = start;
        if (!is_white_space(decode_next(text, next))) break;
        end = start;
    }
    return text.substr(begin, end - begin);
}

// Final_Sigma for the capital sigma at text[start, end): a Cased character before it and none
// after it, skipping Case_Ignorable characters (also those that are Cased) on both sides.
template <class Char>
bool is_final_sigma(std::basic_string_view<Char> text, std::size_t start, std::size_t end) {
    bool cased_before = false;
    for (std::size_t pos = start; pos > 0;) {
        pos = previous_char_start(text, pos);
        std::size_t next = pos;
        const std::uint8_t flags = uc::record(decode_next(text, next)).flags;
        if (!(flags & uc::flag_case_ignorable)) {
            cased_before = flags & uc::flag_cased;
            break;
        }
    }
    if (!cased_before) return false;
    for (std::size_t pos = end; pos < text.size();) {
        const std::uint8_t flags = uc::record(decode_next(text, pos)).flags;
        if (!(flags & uc::flag_case_ignorable)) return !(flags & uc::flag_cased);
    }
    return true;
}

// Output sinks. The raw writers rely on the bounds the table generator proves.
struct Utf8Writer {
    char* pos;
    void put(char32_t cp) {
        if (cp < 0x80) {
            *pos++ = static_cast<char>(cp);
        } else if (cp < 0x800) {
            pos[0] = static_cast<char>(0xC0 | (cp >> 6));
            pos[1] = static_cast<char>(0x80 | (cp & 0x3F));
            pos += 2;
        } else if (cp < 0x10000) {
            pos[0] = static_cast<char>(0xE0 | (cp >> 12));
            pos[1] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            pos[2] = static_cast<char>(0x80 | (cp & 0x3F));
            pos += 3;
        } else {
            pos[0] = static_cast<char>(0xF0 | (cp >> 18));
            pos[1] = static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            pos[2] = static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            pos[3] = static_cast<char>(0x80 | (cp & 0x3F));
            pos += 4;
        }
    }
    void put_ascii_lower(const char* from, std::size_t size) {
        ascii_lower_copy(from, pos, size);
        pos += size;
    }
};

struct StringAppender {
    std::string* out;
    void put(char32_t cp) { append_utf8(cp, *out); }
    void put_ascii_lower(const char* from, std::size_t size) {
        const std::size_t old_size = out->size();
        out->resize(old_size + size);
        ascii_lower_copy(from, out->data() + old_size, size);
    }
};

struct CodePointWriter {
    char32_t* pos;
    void put(char32_t cp) { *pos++ = cp; }
    template <class Char>
    void put_ascii_lower(const Char* from, std::size_t size) {
        ascii_lower_widen(from, pos, size);
        pos += size;
    }
};

// Canonical composition over a stream without marks: every character is a starter, so the
// last one either absorbs the next or is final.
template <class Sink>
class Composer {
public:
    explicit Composer(Sink& sink) : sink_(sink) {}

    void feed(char32_t cp, bool composes_with_previous) {
        if (has_pending_) {
            if (composes_with_previous) {
                if (const char32_t composite = uc::compose(pending_, cp)) {
                    pending_ = composite;
                    return;
                }
            }
            sink_.put(pending_);
        }
        pending_ = cp;
        has_pending_ = true;
    }

    // The same as feeding each character of a nonempty ASCII run with composes_with_previous
    // false: each one ends the pending character, and only the last stays pending.
    template <class Char>
    void feed_ascii(const Char* run, std::size_t size) {
        if (has_pending_) sink_.put(pending_);
        sink_.put_ascii_lower(run, size - 1);
        pending_ = ascii_lower(unit_value(run[size - 1]));
        has_pending_ = true;
    }

    void finish() {
        if (has_pending_) sink_.put(pending_);
    }

private:
    Sink& sink_;
    char32_t pending_ = 0;
    bool has_pending_ = false;
};

// Decomposes an already lowercased character and feeds what is not a mark. A Hangul syllable
// goes in whole: its jamo would compose straight back into it.
template <class Sink>
inline void feed_lowercase(Composer<Sink>& composer, char32_t cp, const uc::CharRecord& rec) {
    if (rec.decomposition_length == 0) {
        if (!(rec.flags & uc::flag_mark)) composer.feed(cp, rec.flags & uc::flag_composes_with_previous);
        return;
    }
    const std::uint32_t* part = uc::decomposition_pool + rec.decomposition_offset;
    const std::uint32_t* const end = part + rec.decomposition_length;
    for (; part != end; ++part)
        if (!(*part & uc::decomposition_mark_bit))
            composer.feed(*part & uc::decomposition_code_mask, *part & uc::decomposition_composes_bit);
}

template <class Sink>
inline void feed_lowercase(Composer<Sink>& composer, char32_t cp) {
    feed_lowercase(composer, cp, uc::record(cp));
}

// Lowercase, decompose, drop marks and compose in one pass over the trimmed text.
template <class Char, class Sink>
void normalize_trimmed(std::basic_string_view<Char> text, Sink& sink) {
    Composer<Sink> composer(sink);
    for (std::size_t pos = 0; pos < text.size();) {
        const auto unit = unit_value(text[pos]);
        if (unit < 0x80) {
            const std::size_t run = ascii_run_length(text, pos);
            composer.feed_ascii(text.data() + pos, run);
            pos += run;
            continue;
        }
        const std::size_t start = pos;
        char32_t cp = decode_next(text, pos);
        const uc::CharRecord* rec = &uc::record(cp);
        if (rec->flags & uc::flag_special_lowercase) [[unlikely]] {
            if (cp == kCapitalIDot) {
                feed_lowercase(composer, U'i');
                feed_lowercase(composer, kCombiningDotAbove);
                continue;
            }
            if (cp == kCapitalSigma) {
                feed_lowercase(composer, is_final_sigma(text, start, pos) ? kFinalSigma : kSmallSigma);
                continue;
            }
        }
        if (rec->lower_delta != 0) {
            cp = static_cast<char32_t>(static_cast<std::int32_t>(cp) + rec->lower_delta);
            rec = &uc::record(cp);
        }
        feed_lowercase(composer, cp, *rec);
    }
    composer.finish();
}

// At most one code point per byte of the trimmed text, and at most max_code_point_growth per
// code point; returns the end of what it wrote.
template <class Char>
char32_t* normalize_trimmed_into(std::basic_string_view<Char> trimmed, char32_t* out) {
    if (all_ascii(trimmed)) {
        ascii_lower_widen(trimmed.data(), out, trimmed.size());
        return out + trimmed.size();
    }
    CodePointWriter writer{out};
    normalize_trimmed(trimmed, writer);
    return writer.pos;
}

// Below this code point (Latin-1, Latin Extended-A, most of Extended-B) there are no marks,
// no sigma and no composite of two non-marks: a trimmed text of such code points normalises
// one code point at a time, each to exactly one. A power of two, so that the OR of a text's
// code points tells whether all of them are below it.
constexpr char32_t kFoldLimit = 0x200;

// What each code point below kFoldLimit becomes, derived once from the full normaliser, with
// whether every one of them behaves as described (else the table is not used).
struct FoldTable {
    char32_t to[kFoldLimit];
    bool usable;
};

const FoldTable& fold_table() {
    static const FoldTable table = [] {
        FoldTable built{};
        built.usable = true;
        for (char32_t cp = 0; cp < kFoldLimit; ++cp) {
            char32_t folded[max_code_point_growth];
            CodePointWriter writer{folded};
            normalize_trimmed(std::u32string_view(&cp, 1), writer);
            // One code point that nothing after it can compose with.
            if (writer.pos - folded != 1 || (uc::record(folded[0]).flags & uc::flag_composes_with_previous))
                built.usable = false;
            else
                built.to[cp] = folded[0];
        }
        return built;
    }();
    return table;
}

template <>
char32_t* normalize_trimmed_into(std::u32string_view trimmed, char32_t* out) {
    const char32_t seen = or_of_code_points(trimmed);
    if (seen < 0x80) {
        ascii_lower_code_points(trimmed.data(), out, trimmed.size());
        return out + trimmed.size();
    }
    if (seen < kFoldLimit) {
        if (const FoldTable& fold = fold_table(); fold.usable) {
            for (const char32_t cp : trimmed) *out++ = fold.to[cp];
            return out;
        }
    }
    CodePointWriter writer{out};
    normalize_trimmed(trimmed, writer);
    return writer.pos;
}

// Inputs up to this many bytes are normalised into a stack buffer and copied once.
constexpr std::size_t kStackInputLimit = 256;

}  // namespace

// One named result on every path, so it is constructed in place rather than moved.
std::string normalize(std::string_view text) {
    const std::string_view trimmed = trim(text);
    std::string out;
    if (all_ascii(trimmed)) {
        out.resize(trimmed.size());
        ascii_lower_copy(trimmed.data(), out.data(), trimmed.size());
    } else if (trimmed.size() <= kStackInputLimit) {
        char buffer[kStackInputLimit * uc::max_utf8_growth];
        Utf8Writer writer{buffer};
        normalize_trimmed(trimmed, writer);
        out.assign(buffer, writer.pos);
    } else {
        out.reserve(trimmed.size());
        StringAppender appender{&out};
        normalize_trimmed(trimmed, appender);
    }
    return out;
}

void normalize_into(std::string_view text, std::u32string& out) {
    const std::string_view trimmed = trim(text);
    out.resize(trimmed.size());  // at most one code point per input byte
    out.resize(static_cast<std::size_t>(normalize_trimmed_into(trimmed, out.data()) - out.data()));
}

char32_t* normalize_into(std::string_view text, char32_t* out) { return normalize_trimmed_into(trim(text), out); }

char32_t* normalize_into(std::u32string_view text, char32_t* out) { return normalize_trimmed_into(trim(text), out); }

std::u32string normalize(std::u32string_view text) {
    std::u32string out(max_code_point_growth * text.size(), U'\0');
    out.resize(static_cast<std::size_t>(normalize_into(text, out.data()) - out.data()));
    return out;
}

}  // namespace pelgar::text
