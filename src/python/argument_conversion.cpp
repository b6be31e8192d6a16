#include "python/argument_conversion.hpp"

#include <algorithm>
#include <string_view>

#include "common/stop.hpp"
#include "python/python_error.hpp"

namespace pelgar::python {

namespace {

// A reported length only sizes the first allocation, and a false one must not exhaust memory.
constexpr Py_ssize_t max_initial_reservation = 1 << 16;

[[noreturn]] void not_convertible(PyObject* object, const char* target) {
    throw PythonError::type_error("'" + type_qualname(object) + "' object cannot be converted to '" + target + "'");
}

// The UTF-8 encoding of a str, with the bytes object that holds it.
Utf8Text utf8_of(PyObject* object) {
    if (!PyUnicode_Check(object)) not_convertible(object, "PyString");
    Ref bytes(checked(PyUnicode_AsUTF8String(object)));
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) throw PythonError::fetch();
    return Utf8Text(std::move(bytes), std::string_view(data, static_cast<std::size_t>(size)));
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
    // Copying millions of texts takes long enough that a signal should not wait for it.
    StopPoll poll;
    while (Ref item{PyIter_Next(iterator.get())}) {
        const Utf8Text text = utf8_of(item.get());
        poll(static_cast<std::int64_t>(text.view().size()) + 8);
        texts.push_back(text.view());
    }
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

Utf8Text text_argument(PyObject* object, const char* parameter) {
    return converted(parameter, [&] { return utf8_of(object); });
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
