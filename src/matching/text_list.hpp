#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pelgar::matching {

// An owned, ordered list of texts, stored back to back in one buffer.
template <class Char>
class PackedTexts {
public:
    using View = std::basic_string_view<Char>;

    void reserve(std::size_t texts) { ends_.reserve(texts); }
    void push_back(View text) {
        chars_.append(text);
        ends_.push_back(chars_.size());
    }
    // Appends the text that write(Char* out) -> Char* end puts in place, given room for max_size.
    template <class Write>
    void push_back_written(std::size_t max_size, Write&& write) {
        const std::size_t begin = chars_.size();
        chars_.resize(begin + max_size);
        const Char* end = write(chars_.data() + begin);
        chars_.resize(static_cast<std::size_t>(end - chars_.data()));
        ends_.push_back(chars_.size());
    }

    std::size_t size() const noexcept { return ends_.size(); }
    bool empty() const noexcept { return ends_.empty(); }
    std::size_t memory_bytes() const noexcept {
        return chars_.capacity() * sizeof(Char) + ends_.capacity() * sizeof(std::size_t);
    }
    View operator[](std::size_t i) const noexcept {
        const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
        return View(chars_).substr(begin, ends_[i] - begin);
    }

private:
    std::basic_string<Char> chars_;
    std::vector<std::size_t> ends_;
};

// UTF-8 texts as the caller passed them.
using TextList = PackedTexts<char>;

}  // namespace pelgar::matching
