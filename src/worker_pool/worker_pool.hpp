#pragma once

#include <cstddef>
#include <functional>

namespace pelgar::pool {

// A fixed set of worker threads that run index ranges handed to them by one caller at a time.
class WorkerPool {
public:
    // Starts every thread at once; if one cannot be started, the started ones are told to
    // end and InternalFailure is thrown ("The global thread pool has not been initialized...").
    explicit WorkerPool(std::size_t threads);
    ~WorkerPool();
    WorkerPool(const WorkerPool&) = delete;
    WorkerPool& operator=(const WorkerPool&) = delete;

    std::size_t size() const noexcept;

    // Runs body(i) for every i in [0, n) on the workers, handing out items dynamically,
    // and blocks until none is still running. The first exception thrown by body is
    // rethrown here, after every worker has finished with the range.
    void run(std::size_t n, const std::function<void(std::size_t)>& body);

private:
    struct State;
    State* state_;
};

// The process-wide pool: created on the first call, sized from RAYON_NUM_THREADS /
// RAYON_RS_NUM_CPUS, never shut down. If creation failed, every call throws that failure.
WorkerPool& worker_pool();

}  // namespace pelgar::pool
