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
#include <unistd.h>

#include "common/internal_failure.hpp"
#include "common/stop.hpp"
#include "worker_pool/pool_size.hpp"

namespace pelgar::pool {

namespace {

constexpr const char* not_initialized = "The global thread pool has not been initialized.";

// Workers only run the per-item operations; they need no large stacks.
constexpr std::size_t worker_stack_size = std::size_t{2} << 20;

}  // namespace

// One range (a "job") is open at a time. A worker joins the open job at most once,
// claims items one by one from a shared counter, and leaves when the range is used
// up or the job was told to stop (an item failed, or the caller's tick said so). The
// caller closes the job once no worker is left in it, so a worker that wakes late
// never sees a finished job's body.
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
    std::atomic<std::size_t> done{0};  // items finished without failure
    // Current on every worker, so long items see a stop between their own steps.
    StopToken job_stop;

    bool finished() const { return active == 0 && (job_stop.stop_requested() || next.load() >= count); }

    void work_loop() {
        StopScope scope(&job_stop);
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
        while (!job_stop.stop_requested()) {
            const std::size_t i = next.fetch_add(1, std::memory_order_relaxed);
            if (i >= count) return;
            try {
                (*body)(i);
            } catch (...) {
                std::lock_guard guard(lock);
                if (!first_error) first_error = std::current_exception();
                job_stop.request_stop();
                return;
            }
            done.fetch_add(1, std::memory_order_relaxed);
        }
    }

    // Waits for the open job to finish, asking the tick (or the caller's token) every
    // tick_interval. Returns true when the job was told to stop from here.
    bool wait_for_job(std::unique_lock<std::mutex>& guard, const Tick& tick, StopToken* caller_token,
                      std::exception_ptr& tick_error) {
        bool stop = false;
        while (!job_done.wait_for(guard, tick_interval, [&] { return finished(); })) {
            if (stop) continue;
            // The tick may call back into its owner (the interpreter), so no pool lock is held.
            guard.unlock();
            try {
                if (tick) {
                    stop = !tick(done.load(std::memory_order_relaxed));
                } else if (caller_token != nullptr) {
                    stop = caller_token->check_now();
                }
            } catch (...) {
                tick_error = std::current_exception();
                stop = true;
            }
            guard.lock();
            if (stop) job_stop.request_stop();
        }
        return stop;
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

void WorkerPool::run(std::size_t n, const std::function<void(std::size_t)>& body, const Tick& tick) {
    if (n == 0) return;
    State& s = *state_;
    StopToken* const caller_token = tick ? nullptr : current_stop_token();
    std::lock_guard serial(s.run_lock);
    std::exception_ptr error, tick_error;
    bool stopped = false;
    {
        std::unique_lock guard(s.lock);
        s.body = &body;
        s.count = n;
        s.next.store(0);
        s.done.store(0);
        s.job_stop.reset();
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
        stopped = s.wait_for_job(guard, tick, caller_token, tick_error);
        s.job_open = false;
        s.body = nullptr;
        error = std::exchange(s.first_error, nullptr);
    }
    if (tick_error) std::rethrow_exception(tick_error);
    if (stopped) throw Stopped();
    if (error) std::rethrow_exception(error);
}

namespace {

// The pool of one process; a forked child inherits its parent's record and replaces it.
struct ProcessPool {
    pid_t owner = 0;
    WorkerPool* pool = nullptr;
    std::string failure;
};

ProcessPool* create_process_pool(pid_t owner) {
    auto* record = new ProcessPool{owner, nullptr, {}};
    try {
        record->pool = new WorkerPool(pool_size_from_environment());
    } catch (const std::exception& e) {
        record->failure = e.what();
        if (record->failure.rfind(not_initialized, 0) != 0)
            record->failure = std::string(not_initialized) + ": " + record->failure;
    }
    return record;
}

std::mutex& creation_lock() {
    static std::mutex* const lock = [] {
        auto* made = new std::mutex;
        // Held across fork, so a child never inherits it locked by a thread it lacks.
        pthread_atfork([] { creation_lock().lock(); }, [] { creation_lock().unlock(); },
                       [] { creation_lock().unlock(); });
        return made;
    }();
    return *lock;
}

std::atomic<ProcessPool*> process_pool{nullptr};

}  // namespace

WorkerPool& worker_pool() {
    const pid_t self = getpid();
    ProcessPool* record = process_pool.load(std::memory_order_acquire);
    if (record == nullptr || record->owner != self) {
        std::lock_guard guard(creation_lock());
        record = process_pool.load(std::memory_order_acquire);
        if (record == nullptr || record->owner != self) {
            // Records are never freed: no worker is joined at process exit, a failed
            // creation is not retried, and a parent's record is left as it is in a child
            // (its threads do not exist here, its locks may be held by threads that were
            // not copied), so touching it could hang.
            record = create_process_pool(self);
            process_pool.store(record, std::memory_order_release);
        }
    }
    if (record->pool == nullptr) throw InternalFailure(record->failure);
    return *record->pool;
}

}  // namespace pelgar::pool
