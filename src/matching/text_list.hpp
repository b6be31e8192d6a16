#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace pelgar::matching {

// An owned, ordered list of UTF-8 texts, stored back to back in one buffer.
class TextList {
public:
    void reserve(std::size_t texts) { ends_.reserve(texts); }
    void push_back(std::string_view text) {
        bytes_.append(text);
        ends_.push_back(bytes_.size());
    }

    std::size_t size() const noexcept { return ends_.size(); }
    bool empty() const noexcept { return ends_.empty(); }
    std::size_t memory_bytes() const noexcept { return bytes_.capacity() + ends_.capacity() * sizeof(std::size_t); }
    std::string_view operator[](std::size_t i) const noexcept {
        const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
        return std::string_view(bytes_).substr(begin, ends_[i] - begin);
    }

private:
    std::string bytes_;
    std::vector<std::size_t> ends_;
};

}  // namespace pelgar::matching
