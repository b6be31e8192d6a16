#include "python/argument_conversion.hpp"

#include <algorithm>
#include <string_view>

#include "python/python_error.hpp"

namespace pelgar::python {

namespace {

// A reported length only sizes the first allocation, and a false one must not exhaust memory.
constexpr Py_ssize_t max_initial_reservation = 1 << 16;

[[noreturn]] void not_convertible(PyObject* object, const char* target) {
    throw PythonError::type_error("'" + type_qualname(object) + "' object cannot be converted to '" + target + "'");
}

// Hands the UTF-8 bytes of a str to sink; the bytes live only during the call.
template <class Sink>
void with_utf8(PyObject* object, Sink&& sink) {
    if (!PyUnicode_Check(object)) not_convertible(object, "PyString");
    Ref bytes(checked(PyUnicode_AsUTF8String(object)));
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) throw PythonError::fetch();
    sink(std::string_view(data, static_cast<std::size_t>(size)));
}

matching::TextList text_list(PyObject* object) {
    if (PyUnicode_Check(object)) throw PythonError::type_error("Can't extract `str` to `Vec`");
    if (!PySequence_Check(object)) not_convertible(object, "Sequence");
    matching::TextList texts;
    const Py_ssize_t reported = PySequence_Size(object);
    if (reported < 0)
        PyErr_Clear();
    else
        texts.reserve(static_cast<std::size_t>(std::min(reported, max_initial_reservation)));
    Ref iterator(checked(PyObject_GetIter(object)));
    while (Ref item{PyIter_Next(iterator.get())}) with_utf8(item.get(), [&](std::string_view text) { texts.push_back(text); });
    if (PyErr_Occurred()) throw PythonError::fetch();
    return texts;
}

template <class Convert>
auto converted(const char* parameter, Convert&& convert) {
    try {
        return convert();
    } catch (PythonError& error) {
        throw wrap_argument_error(std::move(error), parameter);
    }
}

}  // namespace

std::string text_argument(PyObject* object, const char* parameter) {
    return converted(parameter, [&] {
        std::string text;
        with_utf8(object, [&](std::string_view utf8) { text.assign(utf8); });
        return text;
    });
}

matching::TextList text_list_argument(PyObject* object, const char* parameter) {
    return converted(parameter, [&] { return text_list(object); });
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
