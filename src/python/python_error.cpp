#include "python/python_error.hpp"

#include <optional>

#include "common/internal_failure.hpp"

namespace pelgar::python {

PythonError PythonError::fetch() {
    PythonError error;
    PyObject *type = nullptr, *value = nullptr, *traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    if (!type) return with_message(PyExc_SystemError, "attempted to fetch exception but none was set");
    error.type_ = Ref(type);
    error.value_ = Ref(value);
    error.traceback_ = Ref(traceback);
    return error;
}

PythonError PythonError::with_message(PyObject* type, std::string message) {
    PythonError error;
    error.type_ = Ref::borrow(type);
    error.lazy_ = true;
    error.message_ = std::move(message);
    return error;
}

PythonError PythonError::from_instance(Ref instance) {
    PythonError error;
    error.type_ = Ref::borrow(reinterpret_cast<PyObject*>(Py_TYPE(instance.get())));
    error.value_ = std::move(instance);
    return error;
}

PyObject* PythonError::instance() {
    if (lazy_) {
        Ref message(PyUnicode_FromStringAndSize(message_.data(), static_cast<Py_ssize_t>(message_.size())));
        if (!message) return nullptr;
        value_ = Ref(PyObject_CallFunctionObjArgs(type_.get(), message.get(), nullptr));
        if (!value_) return nullptr;
        lazy_ = false;
        return value_.get();
    }
    if (value_ && PyObject_TypeCheck(value_.get(), reinterpret_cast<PyTypeObject*>(type_.get())))
        return value_.get();
    PyObject *type = type_.release(), *value = value_.release(), *traceback = traceback_.release();
    PyErr_NormalizeException(&type, &value, &traceback);
    type_ = Ref(type);
    value_ = Ref(value);
    traceback_ = Ref(traceback);
    return value_.get();
}

void PythonError::restore() && {
    if (lazy_) {
        Ref message(PyUnicode_FromStringAndSize(message_.data(), static_cast<Py_ssize_t>(message_.size())));
        if (message) PyErr_SetObject(type_.get(), message.get());
        return;
    }
    PyErr_Restore(type_.release(), value_.release(), traceback_.release());
}

namespace {

std::string bytes_text(PyObject* bytes) {
    char* data = nullptr;
    Py_ssize_t size = 0;
    PyBytes_AsStringAndSize(bytes, &data, &size);
    return std::string(data, static_cast<std::size_t>(size));
}

// The UTF-8 text of a str; nothing (and no pending error) if it has none.
std::optional<std::string> utf8_of(PyObject* text) {
    if (!PyUnicode_Check(text)) return std::nullopt;
    Ref bytes(PyUnicode_AsUTF8String(text));
    if (!bytes) {
        PyErr_Clear();
        return std::nullopt;
    }
    return bytes_text(bytes.get());
}

// Lone surrogates come out as U+FFFD.
std::string lenient_utf8_of(PyObject* text) {
    Ref encoded(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
    if (!encoded) {
        PyErr_Clear();
        return {};
    }
    const std::string raw = bytes_text(encoded.get());
    Ref decoded(PyUnicode_DecodeUTF8(raw.data(), static_cast<Py_ssize_t>(raw.size()), "replace"));
    if (!decoded) {
        PyErr_Clear();
        return {};
    }
    return utf8_of(decoded.get()).value_or(std::string());
}

// A text attribute of the object's type, if it can be read as one.
std::optional<std::string> type_attribute(PyObject* object, const char* attribute) {
    Ref value(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), attribute));
    if (!value) {
        PyErr_Clear();
        return std::nullopt;
    }
    return utf8_of(value.get());
}

}  // namespace

std::string text_for_message(PyObject* object) {
    Ref text(PyObject_Str(object));
    if (text) return lenient_utf8_of(text.get());
    PyErr_WriteUnraisable(object);
    if (const auto name = type_attribute(object, "__name__")) return "<unprintable " + *name + " object>";
    return "<unprintable object>";
}

std::string type_qualname(PyObject* object) {
    return type_attribute(object, "__qualname__").value_or("<failed to extract type name>");
}

PythonError wrap_argument_error(PythonError error, const char* parameter) {
    if (!error.has_exact_type(PyExc_TypeError)) return error;
    PyObject* original = error.instance();
    if (!original) return PythonError::fetch();
    std::string message = std::string("argument '") + parameter + "': " + text_for_message(original);
    Ref text(checked(PyUnicode_FromStringAndSize(message.data(), static_cast<Py_ssize_t>(message.size()))));
    Ref replacement(checked(PyObject_CallFunctionObjArgs(PyExc_TypeError, text.get(), nullptr)));
    // The new exception takes over the original's cause; the original itself is not chained.
    PyException_SetCause(replacement.get(), PyException_GetCause(original));
    return PythonError::from_instance(std::move(replacement));
}

void fail_python_api_call() {
    PyErr_Print();
    throw InternalFailure("Python API call failed");
}

}  // namespace pelgar::python
