#pragma once

#include <Python.h>

#include <cstddef>
#include <functional>

#include "common/stop.hpp"

namespace pelgar::join_python {

// Runs body(i) for every i in [0, n) on a pool of `workers` threads with the interpreter
// lock released. About every 20 ms the calling thread takes the lock back to let signal
// handlers run and to call progress(done, n) (at most ten times a second, and once at
// the end). An exception from either stops the work and is thrown as PythonError.
// progress may be null or None.
void run_released(std::size_t workers, std::size_t n, const std::function<void(std::size_t)>& body,
                  PyObject* progress);

// Runs work() with the interpreter lock released; it must not touch Python objects.
template <class Work>
auto without_lock(Work&& work) {
    struct Reacquire {
        PyThreadState* state;
        ~Reacquire() { PyEval_RestoreThread(state); }
    } reacquire{PyEval_SaveThread()};
    // The frame's stop token asks the interpreter, which this thread may not do now.
    const StopScope no_token(nullptr);
    return work();
}

}  // namespace pelgar::join_python
