#pragma once

#include <cstddef>
#include <functional>

#include "worker_pool/worker_pool.hpp"

namespace pelgar::join {

// Called on the calling thread between slices of work with the items done so far;
// returning false stops the run.
using Tick = std::function<bool(std::size_t done)>;

// Runs body(i) for every i in [0, n) on the pool, in slices sized to take about a tick
// interval each, calling tick between slices and once at the end. Returns false if a
// tick stopped it; items of later slices are then never run.
bool run_in_slices(pool::WorkerPool& pool, std::size_t n, const std::function<void(std::size_t)>& body,
                   const Tick& tick);

// A pool of `threads` workers, made on first request and kept for later calls (made
// afresh in a child process after fork, whose copies of the threads do not exist).
pool::WorkerPool& pool_with(std::size_t threads);

}  // namespace pelgar::join
