#include "join_python/released_run.hpp"

#include <chrono>

#include "common/stop.hpp"
#include "join/pool_run.hpp"
#include "python/py_ref.hpp"
#include "python/python_error.hpp"

namespace pelgar::join_python {

namespace {

constexpr std::chrono::milliseconds kProgressInterval{100};

}  // namespace

void run_released(std::size_t workers, std::size_t n, const std::function<void(std::size_t)>& body,
                  PyObject* progress) {
    using Clock = std::chrono::steady_clock;
    if (progress == Py_None) progress = nullptr;
    auto last_report = Clock::now();
    PyThreadState* released = nullptr;
    // Called with the lock released; takes it for the checks and gives it back.
    const pool::Tick tick = [&](std::size_t done) {
        PyEval_RestoreThread(released);
        released = nullptr;
        bool go_on = PyErr_CheckSignals() == 0;
        const auto now = Clock::now();
        if (go_on && progress && (done == n || now - last_report >= kProgressInterval)) {
            last_report = now;
            python::Ref result(PyObject_CallFunction(progress, "nn", static_cast<Py_ssize_t>(done),
                                                     static_cast<Py_ssize_t>(n)));
            go_on = static_cast<bool>(result);
        }
        released = PyEval_SaveThread();
        return go_on;
    };
    bool stopped = false;
    released = PyEval_SaveThread();
    try {
        // The frame's stop token asks the interpreter, which this thread may not do now.
        const StopScope no_token(nullptr);
        join::run_with_ticks(join::pool_with(workers), n, body, tick);
    } catch (const Stopped&) {
        stopped = true;
    } catch (...) {
        if (released) PyEval_RestoreThread(released);
        throw;
    }
    PyEval_RestoreThread(released);
    // The tick that asked to stop left its exception pending.
    if (stopped) throw python::PythonError::fetch();
}

}  // namespace pelgar::join_python
