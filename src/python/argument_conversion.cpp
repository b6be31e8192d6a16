#include "python/argument_conversion.hpp"

#include <algorithm>
#include <string_view>

#include "text/code_points.hpp"

namespace pelgar::python {

namespace {

// A reported length only sizes the first allocation, and a false one must not exhaust memory.
constexpr Py_ssize_t kMaxInitialReservation = 1 << 16;

static_assert(sizeof(Py_UCS4) == sizeof(char32_t), "code points are read as Py_UCS4");

[[noreturn]] void not_convertible(PyObject* object, const char* target) {
    throw PythonError::type_error("'" + type_qualname(object) + "' object cannot be converted to '" + target + "'");
}

bool has_surrogate(std::u32string_view text) {
    if (text::or_of_code_points(text) < 0xD800) return false;  // the common case
    return std::any_of(text.begin(), text.end(), [](char32_t cp) { return cp >= 0xD800 && cp <= 0xDFFF; });
}

// Encoding to UTF-8 raises the interpreter's own error for the first lone surrogate.
void raise_encoding_error(PyObject* text) { Ref(checked(PyUnicode_AsUTF8String(text))); }

template <class Convert>
auto converted(const char* parameter, Convert&& convert) {
    try {
        return convert();
    } catch (PythonError& error) {
        throw wrap_argument_error(std::move(error), parameter);
    }
}

}  // namespace

std::u32string_view CodePointReader::read(PyObject* object) {
    if (!PyUnicode_Check(object)) not_convertible(object, "PyString");
    const Py_ssize_t length = PyUnicode_GetLength(object);
    if (length < 0) throw PythonError::fetch();
    const auto size = static_cast<std::size_t>(length);
    char32_t* const data = buffer_.reset(size);  // never null, even for no code points
    if (!PyUnicode_AsUCS4(object, reinterpret_cast<Py_UCS4*>(data), length, 0)) throw PythonError::fetch();
    const std::u32string_view text(data, size);
    if (has_surrogate(text)) raise_encoding_error(object);
    return text;
}

std::u32string_view code_points_argument(PyObject* object, const char* parameter, CodePointReader& reader) {
    return converted(parameter, [&] { return reader.read(object); });
}

TextSequence::TextSequence(PyObject* object) {
    if (PyUnicode_Check(object)) throw PythonError::type_error("Can't extract `str` to `Vec`");
    if (!PySequence_Check(object)) not_convertible(object, "Sequence");
    const Py_ssize_t reported = PySequence_Size(object);
    if (reported < 0)
        PyErr_Clear();
    else
        reported_size_ = static_cast<std::size_t>(std::min(reported, kMaxInitialReservation));
    iterator_ = Ref(checked(PyObject_GetIter(object)));
}

Ref TextSequence::next() {
    Ref item(PyIter_Next(iterator_.get()));
    if (!item && PyErr_Occurred()) throw PythonError::fetch();
    return item;
}

double threshold_argument(PyObject* object_or_null, const char* parameter) {
    if (!object_or_null || object_or_null == Py_None) return 0.0;
    return converted(parameter, [&] {
        const double value = PyFloat_AsDouble(object_or_null);
        if (value == -1.0 && PyErr_Occurred()) throw PythonError::fetch();
        return value;
    });
}

}  // namespace pelgar::python
