#include "worker_pool/worker_pool.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include <pthread.h>

#include "common/internal_failure.hpp"
#include "worker_pool/pool_size.hpp"

namespace pelgar::pool {

namespace {

constexpr const char* not_initialized = "The global thread pool has not been initialized.";

// Workers only run the per-item operations; they need no large stacks.
constexpr std::size_t worker_stack_size = std::size_t{2} << 20;

}  // namespace

// One range (a "job") is open at a time. A worker joins the open job at most once,
// claims items one by one from a shared counter, and leaves when the range is used
// up or an item has failed. The caller closes the job once no worker is left in it,
// so a worker that wakes late never sees a finished job's body.
struct WorkerPool::State {
    std::mutex lock;
    std::condition_variable work_ready;  // workers wait here between jobs
    std::condition_variable job_done;    // the caller waits here during a job
    std::mutex run_lock;                 // one run() at a time
    std::vector<pthread_t> threads;

    // Guarded by `lock`.
    bool stopping = false;
    bool job_open = false;
    std::uint64_t job_id = 0;
    std::size_t active = 0;  // workers inside the open job
    std::exception_ptr first_error;

    // Set under `lock` before the job opens; read by the workers that joined it.
    const std::function<void(std::size_t)>* body = nullptr;
    std::size_t count = 0;
    std::atomic<std::size_t> next{0};
    std::atomic<bool> failed{false};

    bool finished() const { return active == 0 && (failed.load() || next.load() >= count); }

    void work_loop() {
        std::unique_lock guard(lock);
        std::uint64_t joined = 0;
        for (;;) {
            work_ready.wait(guard, [&] { return stopping || (job_open && job_id != joined); });
            if (stopping) return;
            joined = job_id;
            ++active;
            guard.unlock();
            run_items();
            guard.lock();
            // Taking the lock after the last item publishes every result write to the caller.
            if (--active == 0) job_done.notify_one();
        }
    }

    void run_items() {
        while (!failed.load(std::memory_order_relaxed)) {
            const std::size_t i = next.fetch_add(1, std::memory_order_relaxed);
            if (i >= count) return;
            try {
                (*body)(i);
            } catch (...) {
                std::lock_guard guard(lock);
                if (!first_error) first_error = std::current_exception();
                failed.store(true, std::memory_order_relaxed);
                return;
            }
        }
    }

    // Ends and joins every started thread; the pool must have no open job.
    void stop() {
        {
            std::lock_guard guard(lock);
            stopping = true;
        }
        work_ready.notify_all();
        for (const pthread_t thread : threads) pthread_join(thread, nullptr);
        threads.clear();
    }

    static void* thread_main(void* state) {
        static_cast<State*>(state)->work_loop();
        return nullptr;
    }
};

WorkerPool::WorkerPool(std::size_t threads) {
    // A pool without threads could never finish a range.
    threads = std::max<std::size_t>(threads, 1);
    auto state = std::make_unique<State>();
    state->threads.reserve(threads);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, worker_stack_size);
    for (std::size_t i = 0; i < threads; ++i) {
        pthread_t thread;
        const int error = pthread_create(&thread, &attributes, &State::thread_main, state.get());
        if (error != 0) {
            pthread_attr_destroy(&attributes);
            state->stop();
            throw InternalFailure(std::string(not_initialized) + ": failed to start worker thread " +
                                  std::to_string(i + 1) + " of " + std::to_string(threads) + ": " +
                                  std::strerror(error));
        }
        state->threads.push_back(thread);
    }
    pthread_attr_destroy(&attributes);
    state_ = state.release();
}

WorkerPool::~WorkerPool() {
    state_->stop();
    delete state_;
}

std::size_t WorkerPool::size() const noexcept { return state_->threads.size(); }

void WorkerPool::run(std::size_t n, const std::function<void(std::size_t)>& body) {
    if (n == 0) return;
    State& s = *state_;
    std::lock_guard serial(s.run_lock);
    std::exception_ptr error;
    {
        std::unique_lock guard(s.lock);
        s.body = &body;
        s.count = n;
        s.next.store(0);
        s.failed.store(false);
        s.first_error = nullptr;
        ++s.job_id;
        s.job_open = true;
        // Wake no more workers than there are items; a woken worker always finds
        // the job open, so at least one of them joins.
        if (n >= s.threads.size()) {
            s.work_ready.notify_all();
        } else {
            for (std::size_t i = 0; i < n; ++i) s.work_ready.notify_one();
        }
        s.job_done.wait(guard, [&] { return s.finished(); });
        s.job_open = false;
        s.body = nullptr;
        error = std::exchange(s.first_error, nullptr);
    }
    if (error) std::rethrow_exception(error);
}

WorkerPool& worker_pool() {
    struct Global {
        WorkerPool* pool = nullptr;
        std::string failure;
    };
    // Built once and never destroyed: no worker is joined at process exit, and a
    // failed creation is not retried.
    static const Global* const global = [] {
        auto* g = new Global;
        try {
            g->pool = new WorkerPool(pool_size_from_environment());
        } catch (const std::exception& e) {
            g->failure = e.what();
            if (g->failure.rfind(not_initialized, 0) != 0) g->failure = std::string(not_initialized) + ": " + g->failure;
        }
        return g;
    }();
    if (global->pool == nullptr) throw InternalFailure(global->failure);
    return *global->pool;
}

}  // namespace pelgar::pool
