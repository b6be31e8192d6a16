#pragma once

#include <Python.h>

#include <string_view>
#include <utility>

#include "matching/text_list.hpp"
#include "python/py_ref.hpp"

namespace pelgar::python {

// Each conversion throws PythonError, already wrapped for the named parameter.

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

// Any sequence but a str, whose items are all str, as an owned list of UTF-8 copies.
matching::TextList text_list_argument(PyObject* object, const char* parameter);

// None or a missing argument is 0.0; otherwise whatever PyFloat_AsDouble makes of it.
double threshold_argument(PyObject* object_or_null, const char* parameter);

}  // namespace pelgar::python
