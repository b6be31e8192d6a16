#pragma once

#include <Python.h>

#include <new>
#include <source_location>
#include <string_view>

#include "common/internal_failure.hpp"
#include "python/python_error.hpp"

namespace pelgar::python {

// Reports an internal failure on standard error and raises PanicException with its
// message; aborts if that itself fails. Returns null for the entry point to return.
PyObject* raise_panic(std::string_view message, const std::source_location& where) noexcept;

// The frame around every entry point: the body's result, its Python error, or its
// internal failure leaves as a result or a raised exception; no C++ exception escapes.
template <class Body>
PyObject* run_in_frame(Body&& body) noexcept {
    try {
        return body();
    } catch (PythonError& error) {
        std::move(error).restore();
    } catch (const std::bad_alloc&) {
        PyErr_NoMemory();
    } catch (const InternalFailure& failure) {
        return raise_panic(failure.what(), failure.where());
    } catch (const std::exception& failure) {
        return raise_panic(failure.what(), std::source_location::current());
    } catch (...) {
        return raise_panic("unknown internal failure", std::source_location::current());
    }
    return nullptr;
}

}  // namespace pelgar::python
