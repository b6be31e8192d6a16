#pragma once

#include <Python.h>

#include <new>
#include <source_location>
#include <string_view>

#include "common/internal_failure.hpp"
#include "common/stop.hpp"
#include "python/python_error.hpp"

namespace pelgar::python {

// A signal handler's exception is pending when the body stopped; returns null.
PyObject* stopped_by_signal() noexcept;

// Reports an internal failure on standard error and raises PanicException with its
// message; aborts if that itself fails. Returns null for the entry point to return.
PyObject* raise_panic(std::string_view message, const std::source_location& where) noexcept;

// Asks the interpreter to run its signal handlers; true when one raised.
bool signal_handler_raised(void*);

// While alive, long loops on this thread run the interpreter's signal handlers every few
// milliseconds and stop when one raises; the frame then returns that exception. It costs
// a measurable part of a short call, so calls that cannot run long go without.
class SignalWatch {
public:
    SignalWatch() noexcept : token_(signal_handler_raised, nullptr), scope_(&token_) {}

private:
    StopToken token_;
    StopScope scope_;
};

// The frame around every entry point: the body's result, its Python error, or its
// internal failure leaves as a result or a raised exception; no C++ exception escapes.
template <class Body>
PyObject* run_in_frame(Body&& body) noexcept {
    try {
        return body();
    } catch (const Stopped&) {
        return stopped_by_signal();
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
