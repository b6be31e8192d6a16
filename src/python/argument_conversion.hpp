#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>
#include <utility>

#include "common/stop.hpp"
#include "python/py_ref.hpp"
#include "python/python_error.hpp"

namespace pelgar::python {

// Each conversion throws PythonError, already wrapped for the named parameter.

// Reads str objects (subclasses by their string value) as code points into a buffer it
// reuses. A lone surrogate raises the UnicodeEncodeError that encoding the str to UTF-8
// raises, so the text is as valid as a UTF-8 copy would be. Errors are not wrapped.
class CodePointReader {
public:
    CodePointReader() = default;
    CodePointReader(const CodePointReader&) = delete;  // the view may point into this object
    CodePointReader& operator=(const CodePointReader&) = delete;

    // The view lasts until the next read.
    std::u32string_view read(PyObject* object);

private:
    // Names fit here, so one-pair calls and short candidates never allocate.
    static constexpr std::size_t kInlineCodePoints = 128;

    char32_t inline_[kInlineCodePoints];
    std::unique_ptr<char32_t[]> heap_;
    char32_t* data_ = inline_;
    std::size_t capacity_ = kInlineCodePoints;
};

// A str (or subclass) argument as code points, read into the reader's buffer.
std::u32string_view code_points_argument(PyObject* object, const char* parameter, CodePointReader& reader);

// The items of any sequence but a str, taken one at a time from its iterator. Errors are not
// wrapped.
class TextSequence {
public:
    explicit TextSequence(PyObject* object);
    // The length the sequence reports, to size what is built from it; 0 when unknown.
    std::size_t reported_size() const noexcept { return reported_size_; }
    // The next item, or an empty Ref at the end.
    Ref next();

private:
    std::size_t reported_size_ = 0;
    Ref iterator_;
};

// Hands every item of a text sequence argument, in order, to visit(Ref item, code points),
// after reserve(reported size). The code points last until visit returns. The first item
// that is not a str, or fails to read, ends the conversion with its error.
template <class Reserve, class Visit>
void for_each_text_argument(PyObject* object, const char* parameter, Reserve&& reserve, Visit&& visit) {
    try {
        TextSequence sequence(object);
        reserve(sequence.reported_size());
        CodePointReader reader;
        // Reading millions of texts takes long enough that a signal should not wait for it.
        StopPoll poll;
        while (Ref item = sequence.next()) {
            const std::u32string_view text = reader.read(item.get());
            poll(static_cast<std::int64_t>(text.size()) + 8);
            visit(std::move(item), text);
        }
    } catch (PythonError& error) {
        throw wrap_argument_error(std::move(error), parameter);
    }
}

// The UTF-8 text of a str argument, owned by the call. The copy is the bytes object that
// encoding made: new, immutable and referenced only here, so its buffer stays as it is.
class Utf8Text {
public:
    Utf8Text(Ref bytes, std::string_view text) noexcept : bytes_(std::move(bytes)), text_(text) {}
    std::string_view view() const noexcept { return text_; }

private:
    Ref bytes_;
    std::string_view text_;
};

// A str (or subclass) as its owned UTF-8 text.
Utf8Text text_argument(PyObject* object, const char* parameter);

// None or a missing argument is 0.0; otherwise whatever PyFloat_AsDouble makes of it.
double threshold_argument(PyObject* object_or_null, const char* parameter);

}  // namespace pelgar::python
