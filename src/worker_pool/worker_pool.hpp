#pragma once

#include <chrono>
#include <cstddef>
#include <functional>

namespace pelgar::pool {

// Run on the waiting caller every WorkerPool::tick_interval with the number of items
// finished so far; answering false asks the run to stop.
using Tick = std::function<bool(std::size_t finished)>;

// A fixed set of worker threads that run index ranges handed to them by one caller at a time.
//
// Stopping: when the tick answers false (or throws), no further item is handed out, the
// workers leave between items (a long item sees the stop through the StopToken that is
// current on its worker, see common/stop.hpp), and run() waits until no worker is left in
// the range, then throws Stopped (or the tick's exception). The pool stays usable.
// Without a tick, run() checks the caller's current StopToken instead, if it has one.
class WorkerPool {
public:
    static constexpr std::chrono::milliseconds tick_interval{20};

    // Starts every thread at once; if one cannot be started, the started ones are told to
    // end and InternalFailure is thrown ("The global thread pool has not been initialized...").
    explicit WorkerPool(std::size_t threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    std::size_t size() const noexcept;

    // Runs body(i) for every i in [0, n) on the workers, handing out items dynamically,
    // and blocks until none is still running. The first exception thrown by body is
    // rethrown here, after every worker has finished with the range; a stop asked by the
    // tick takes precedence over it.
    void run(std::size_t n, const std::function<void(std::size_t)>& body, const Tick& tick = {});

private:
    struct State;
    State* state_;
};

// The process-wide pool: created on the first call in each process, sized from
// RAYON_NUM_THREADS / RAYON_RS_NUM_CPUS as they read then, never shut down. If creation
// failed, every later call in that process throws that failure.
//
// Fork: a child process finds the parent's pool (whose threads it does not have) and
// makes its own on first need, trying once even if the parent's creation failed; the
// parent's pool is left untouched in the child's memory. Fork with no run in progress;
// if native code forks while a run is in progress, the child (which holds only the
// forking thread) never sees that run end and must not wait for it.
WorkerPool& worker_pool();

}  // namespace pelgar::pool
