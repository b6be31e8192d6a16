#pragma once

#include <Python.h>

#include <string>

#include "python/py_ref.hpp"

namespace pelgar::python {

// A Python exception carried through C++ code to the calling frame, which raises it.
// The instance is made only when it is needed (raised, or wrapped).
class PythonError {
public:
    // Takes the interpreter's pending exception; a SystemError if none is pending.
    static PythonError fetch();
    // An exception of the given type with a message, instantiated only when raised.
    static PythonError with_message(PyObject* type, std::string message);
    static PythonError type_error(std::string message) { return with_message(PyExc_TypeError, std::move(message)); }
    static PythonError from_instance(Ref instance);

    bool has_exact_type(PyObject* type) const noexcept { return type_.get() == type; }
    // The exception instance (made now if it was still lazy); null if it cannot be made.
    PyObject* instance();
    // Makes this the thread's current exception.
    void restore() &&;

private:
    PythonError() = default;

    Ref type_, value_, traceback_;
    bool lazy_ = false;    // only type_ and message_ are set
    std::string message_;
};

// Fails with the pending exception when an interpreter call reports failure.
inline PyObject* checked(PyObject* result) {
    if (!result) throw PythonError::fetch();
    return result;
}

// str(object) as UTF-8 for a message: lone surrogates become U+FFFD; an object whose
// str() raises is reported as unraisable and shown as "<unprintable T object>".
std::string text_for_message(PyObject* object);

// The __qualname__ of the object's type, or "<failed to extract type name>".
std::string type_qualname(PyObject* object);

// A TypeError becomes "argument '{name}': {message}" with the original cause; others pass.
PythonError wrap_argument_error(PythonError error, const char* parameter);

// A result object could not be made: print the interpreter's error and fail internally.
[[noreturn]] void fail_python_api_call();

}  // namespace pelgar::python
