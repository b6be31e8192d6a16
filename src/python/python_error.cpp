#include "python/python_error.hpp"

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

std::string utf8_of(PyObject* text) {
    Ref bytes(PyUnicode_AsUTF8String(text));
    if (!bytes) {
        PyErr_Clear();
        return {};
    }
    char* data = nullptr;
    Py_ssize_t size = 0;
    PyBytes_AsStringAndSize(bytes.get(), &data, &size);
    return std::string(data, static_cast<std::size_t>(size));
}

std::string lenient_utf8_of(PyObject* text) {
    Ref encoded(PyUnicode_AsEncodedString(text, "utf-8", "surrogatepass"));
    if (!encoded) {
        PyErr_Clear();
        return {};
    }
    char* data = nullptr;
    Py_ssize_t size = 0;
    PyBytes_AsStringAndSize(encoded.get(), &data, &size);
    Ref decoded(PyUnicode_DecodeUTF8(data, size, "replace"));
    if (!decoded) {
        PyErr_Clear();
        return {};
    }
    return utf8_of(decoded.get());
}

}  // namespace

std::string text_for_message(PyObject* object) {
    Ref text(PyObject_Str(object));
    if (text) return lenient_utf8_of(text.get());
    PyErr_WriteUnraisable(object);
    Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__name__"));
    if (name && PyUnicode_Check(name.get())) {
        Ref name_bytes(PyUnicode_AsUTF8String(name.get()));
        if (name_bytes) return "<unprintable " + utf8_of(name.get()) + " object>";
    }
    PyErr_Clear();
    return "<unprintable object>";
}

std::string type_qualname(PyObject* object) {
    Ref name(PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(object)), "__qualname__"));
    if (name && PyUnicode_Check(name.get())) {
        Ref bytes(PyUnicode_AsUTF8String(name.get()));
        if (bytes) {
            char* data = nullptr;
            Py_ssize_t size = 0;
            PyBytes_AsStringAndSize(bytes.get(), &data, &size);
            return std::string(data, static_cast<std::size_t>(size));
        }
    }
    PyErr_Clear();
    return "<failed to extract type name>";
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
