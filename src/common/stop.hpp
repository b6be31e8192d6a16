#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <exception>
#include <limits>

namespace pelgar {

// Thrown by a long loop that was asked to stop. Whoever asked has recorded why (the
// Python layer: the exception its signal handler raised), and passes that on instead.
class Stopped : public std::exception {
public:
    const char* what() const noexcept override { return "stopped on request"; }
};

// "Stop requested" for one call. Any thread may read or set the flag. The hook, if any,
// belongs to the thread that made the token: only that thread may call check(), which
// runs the hook and sets the flag when the hook answers true.
class StopToken {
public:
    using Hook = bool (*)(void* context);
    // A hook is asked at most this often from check(): the signal latency budget is ~100 ms.
    static constexpr std::chrono::milliseconds hook_interval{5};

    StopToken() noexcept = default;
    StopToken(Hook hook, void* context) noexcept : hook_(hook), context_(context) {}
    StopToken(const StopToken&) = delete;
    StopToken& operator=(const StopToken&) = delete;

    bool stop_requested() const noexcept { return flag_.load(std::memory_order_relaxed); }
    void request_stop() noexcept { flag_.store(true, std::memory_order_relaxed); }
    // For a token reused from one run to the next; no thread may be polling it.
    void reset() noexcept { flag_.store(false, std::memory_order_relaxed); }

    // Owner thread only: asks the hook now; true when the call should stop.
    bool check_now();
    // The same, but the hook runs only when hook_interval has passed since it last ran.
    bool check();

private:
    std::atomic<bool> flag_{false};
    Hook hook_ = nullptr;
    void* context_ = nullptr;
    std::chrono::steady_clock::time_point last_hook_{};
};

// The token of the current call on this thread, or null; long loops poll it. A hook may
// need something its thread holds (a lock); a thread that lets go of it while work goes on
// puts another token (or none) in scope meanwhile.
StopToken* current_stop_token() noexcept;

// Makes `token` the current one on this thread for the scope's life.
class StopScope {
public:
    explicit StopScope(StopToken* token) noexcept;
    ~StopScope();
    StopScope(const StopScope&) = delete;
    StopScope& operator=(const StopScope&) = delete;

private:
    StopToken* previous_;
};

// A cheap poll for long loops: count work with poll(units); every `budget` units it checks
// the current token (a clock read, the hook every few ms) and throws Stopped when asked.
// Without a current token it never leaves the fast path.
class StopPoll {
public:
    // About 50 µs of the kernels' simplest units (a word step, a character).
    static constexpr std::int64_t default_budget = std::int64_t{1} << 16;

    explicit StopPoll(std::int64_t budget = default_budget) noexcept
        : token_(current_stop_token()), budget_(budget), left_(token_ ? budget : never) {}

    void operator()(std::int64_t units = 1) {
        left_ -= units;
        if (left_ <= 0) [[unlikely]] slow_path();
    }

private:
    static constexpr std::int64_t never = std::numeric_limits<std::int64_t>::max();
    void slow_path();

    StopToken* token_;
    std::int64_t budget_;
    std::int64_t left_;
};

}  // namespace pelgar
