#include "join/pool_run.hpp"

#include <map>
#include <mutex>

#include <unistd.h>

#include "common/stop.hpp"

namespace pelgar::join {

void run_with_ticks(pool::WorkerPool& pool, std::size_t n, const std::function<void(std::size_t)>& body,
                    const pool::Tick& tick) {
    pool.run(n, body, tick);
    if (!tick(n)) throw Stopped();
}

pool::WorkerPool& pool_with(std::size_t threads) {
    // Pools live as long as the process: workers may be parked in them at exit.
    static std::mutex lock;
    static auto* pools = new std::map<std::size_t, pool::WorkerPool*>;
    static pid_t owner = getpid();
    std::lock_guard guard(lock);
    if (getpid() != owner) {
        // The parent's pools have no threads here; they are left, never joined.
        pools = new std::map<std::size_t, pool::WorkerPool*>;
        owner = getpid();
    }
    pool::WorkerPool*& pool = (*pools)[threads];
    if (!pool) pool = new pool::WorkerPool(threads);
    return *pool;
}

}  // namespace pelgar::join
