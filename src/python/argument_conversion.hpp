#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>

#include "common/stop.hpp"
#include "measures/kernel_support.hpp"
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
    // Names fit inline, so one-pair calls and short candidates never allocate.
    measures::kernel::SmallBuffer<char32_t, 128> buffer_;
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

// None or a missing argument is 0.0; otherwise whatever PyFloat_AsDouble makes of it.
double threshold_argument(PyObject* object_or_null, const char* parameter);

}  // namespace pelgar::python
