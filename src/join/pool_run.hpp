#pragma once

#include <cstddef>
#include <functional>

#include "worker_pool/worker_pool.hpp"

namespace pelgar::join {

// Runs body(i) for every i in [0, n) on the pool while the calling thread waits, asking
// tick(finished) about every pool tick interval and once at the end. A tick answering
// false stops the run: no further items start, and Stopped is thrown once the workers
// have left (long items poll the run's stop token).
void run_with_ticks(pool::WorkerPool& pool, std::size_t n, const std::function<void(std::size_t)>& body,
                    const pool::Tick& tick);

// A pool of `threads` workers, made on first request and kept for later calls (made
// afresh in a child process after fork, whose copies of the threads do not exist).
pool::WorkerPool& pool_with(std::size_t threads);

}  // namespace pelgar::join
