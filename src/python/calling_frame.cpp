#include "python/calling_frame.hpp"

#include <cstdio>
#include <cstdlib>
#include <string>

namespace pelgar::python {

namespace {

constexpr const char* panic_doc =
    "\n"
    "The exception raised when the module's native code, called from Python, panics.\n"
    "\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n";

// Made at the first internal failure of the process and kept; not a module attribute.
PyObject* panic_exception_type = nullptr;

[[noreturn]] void abort_at_boundary() noexcept {
    std::fputs("uncaught panic at ffi boundary\n", stderr);
    std::fflush(stderr);
    std::abort();
}

// The source path from its "src/" component on, so reports do not show build paths.
std::string_view short_path(std::string_view path) {
    const auto at = path.rfind("src/");
    return at == std::string_view::npos ? path : path.substr(at);
}

void report(std::string_view message, const std::source_location& where) {
    const std::string_view file = short_path(where.file_name());
    std::fprintf(stderr, "pelgar: internal failure at %.*s:%u: %.*s\n", static_cast<int>(file.size()), file.data(),
                 static_cast<unsigned>(where.line()), static_cast<int>(message.size()), message.data());
    std::fflush(stderr);
}

PyObject* panic_type() {
    if (!panic_exception_type)
        panic_exception_type =
            PyErr_NewExceptionWithDoc("pyo3_runtime.PanicException", panic_doc, PyExc_BaseException, nullptr);
    return panic_exception_type;
}

}  // namespace

bool signal_handler_raised(void*) { return PyErr_CheckSignals() != 0; }

PyObject* stopped_by_signal() noexcept {
    // Only a raising hook stops a call; anything else is a fault of the core.
    if (PyErr_Occurred() == nullptr)
        return raise_panic("stopped without a pending exception", std::source_location::current());
    return nullptr;
}

PyObject* raise_panic(std::string_view message, const std::source_location& where) noexcept {
    try {
        report(message, where);
        PyObject* type = panic_type();
        if (!type) abort_at_boundary();
        Ref text(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
        if (!text) abort_at_boundary();
        Ref instance(PyObject_CallFunctionObjArgs(type, text.get(), nullptr));
        if (!instance) abort_at_boundary();
        PyErr_SetObject(type, instance.get());
    } catch (...) {
        abort_at_boundary();
    }
    return nullptr;
}

}  // namespace pelgar::python
