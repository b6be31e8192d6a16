#include "join/sliced_run.hpp"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>

#include <unistd.h>

namespace pelgar::join {

namespace {

// Slices end often enough that a stop request or a progress report waits about this long.
constexpr std::chrono::microseconds kSliceTarget{30'000};

}  // namespace

bool run_in_slices(pool::WorkerPool& pool, std::size_t n, const std::function<void(std::size_t)>& body,
                   const Tick& tick) {
    using Clock = std::chrono::steady_clock;
    std::size_t done = 0;
    // Start small and grow while slices finish early; each worker gets a few items.
    std::size_t slice = std::max<std::size_t>(1, pool.size());
    while (done < n) {
        const std::size_t count = std::min(slice, n - done);
        const auto start = Clock::now();
        const std::size_t first = done;
        pool.run(count, [&](std::size_t i) { body(first + i); });
        done += count;
        const auto elapsed = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
        const double scale = elapsed.count() > 0 ? static_cast<double>(kSliceTarget.count()) / elapsed.count() : 4.0;
        const auto grown = static_cast<double>(count) * std::clamp(scale, 0.25, 4.0);
        slice = std::max<std::size_t>(std::max<std::size_t>(1, pool.size()), static_cast<std::size_t>(grown));
        if (!tick(done)) return false;
    }
    return n > 0 || tick(0);
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
