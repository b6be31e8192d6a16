#include "join_python/text_input.hpp"

#include <cmath>
#include <string>

#include "join_python/arrow_intake.hpp"
#include "python/py_ref.hpp"
#include "python/python_error.hpp"

namespace pelgar::join_python {

using python::checked;
using python::PythonError;
using python::Ref;

namespace {

bool is_missing(PyObject* item) {
    if (item == Py_None) return true;
    if (!PyFloat_Check(item)) return false;
    return std::isnan(PyFloat_AsDouble(item));
}

}  // namespace

TextsWithGaps texts_argument(PyObject* iterable, const char* name) {
    if (arrow::exports_arrow(iterable)) {
        if (auto texts = arrow::texts_of_exporter(iterable, name)) return std::move(*texts);
    }
    if (PyUnicode_Check(iterable))
        throw PythonError::type_error(std::string(name) + ": expected an iterable of str, got a single str");
    Ref iterator(PyObject_GetIter(iterable));
    if (!iterator)
        throw PythonError::type_error(std::string(name) + ": expected an iterable of str, got " +
                                      python::type_qualname(iterable));
    TextsWithGaps result;
    for (std::size_t i = 0;; ++i) {
        Ref item(PyIter_Next(iterator.get()));
        if (!item) break;
        if (PyUnicode_Check(item.get())) {
            Py_ssize_t size = 0;
            Ref bytes(checked(PyUnicode_AsUTF8String(item.get())));
            char* data = nullptr;
            if (PyBytes_AsStringAndSize(bytes.get(), &data, &size) < 0) throw PythonError::fetch();
            result.texts.push_back(std::string_view(data, static_cast<std::size_t>(size)));
            result.missing.push_back(false);
        } else if (is_missing(item.get())) {
            result.texts.push_back({});
            result.missing.push_back(true);
        } else {
            // The message text is part of the module's contract.
            throw PythonError::type_error(std::string(name) + "[" + std::to_string(i) + "]: expected str or None, got " +
                                          python::type_qualname(item.get()));
        }
    }
    if (PyErr_Occurred()) throw PythonError::fetch();
    return result;
}

}  // namespace pelgar::join_python
