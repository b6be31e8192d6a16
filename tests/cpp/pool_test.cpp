// The pool sizing rule, the worker pool and parallel_map: correctness, failure
// propagation, thread-start failure and the process-wide pool. Exits non-zero on failure.

#include <algorithm>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <limits>
#include <optional>
#include <random>
#include <set>
#include <source_location>
#include <span>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <dirent.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "common/internal_failure.hpp"
#include "common/stop.hpp"
#include "worker_pool/parallel_map.hpp"
#include "worker_pool/pool_size.hpp"
#include "worker_pool/worker_pool.hpp"

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
#define POOL_TEST_SANITIZED 1
#else
#define POOL_TEST_SANITIZED 0
#endif

namespace {

using pelgar::InternalFailure;
using pelgar::StopPoll;
using pelgar::Stopped;
using pelgar::StopScope;
using pelgar::StopToken;
using pelgar::pool::WorkerPool;

std::atomic<int> failures{0};

void check(bool ok, const std::string& what, std::source_location where = std::source_location::current()) {
    if (ok) return;
    std::fprintf(stderr, "pool_test.cpp:%u: FAILED: %s\n", static_cast<unsigned>(where.line()), what.c_str());
    ++failures;
}

std::string show(const char* text) { return text == nullptr ? "null" : '"' + std::string(text) + '"'; }

bool starts_with(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

const std::string not_initialized = "The global thread pool has not been initialized.";

// Threads of this process, from the kernel's view.
std::size_t thread_count() {
    std::size_t count = 0;
    if (DIR* dir = opendir("/proc/self/task")) {
        while (const dirent* entry = readdir(dir)) count += entry->d_name[0] != '.';
        closedir(dir);
    }
    return count;
}

// Runs body in a child process, whose failed checks make it exit non-zero.
void in_child(const char* name, const std::function<void()>& body) {
    std::fflush(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
        failures = 0;
        body();
        std::fflush(nullptr);
        _exit(failures == 0 ? 0 : 1);
    }
    int status = 0;
    check(pid > 0 && waitpid(pid, &status, 0) == pid, std::string(name) + ": fork/wait");
    check(WIFEXITED(status) && WEXITSTATUS(status) == 0, std::string(name) + ": child failed");
}

// ---------------------------------------------------------------- sizing rule

// A second reading of the number syntax, through std::from_chars.
std::optional<std::uint64_t> model_count(const std::string& text) {
    std::string digits = text;
    if (!digits.empty() && digits[0] == '+') digits.erase(0, 1);
    if (digits.empty() || !std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
        return std::nullopt;
    std::uint64_t value = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (error != std::errc{} || end != digits.data() + digits.size()) return std::nullopt;
    return value;
}

void test_parse_thread_count() {
    using pelgar::pool::parse_thread_count;
    constexpr auto max = std::numeric_limits<std::uint64_t>::max();
    const struct {
        const char* text;
        std::optional<std::uint64_t> expected;
    } cases[] = {
        {"3", 3}, {"+3", 3}, {"0", 0}, {"+0", 0}, {"007", 7}, {"65536", 65536},
        {"18446744073709551615", max}, {"000000000018446744073709551615", max},
        {"18446744073709551616", std::nullopt}, {"18446744073709551620", std::nullopt},
        {"99999999999999999999", std::nullopt}, {"184467440737095516150", std::nullopt},
        {"", std::nullopt}, {"+", std::nullopt}, {"++3", std::nullopt}, {"+-3", std::nullopt},
        {" 3", std::nullopt}, {"3 ", std::nullopt}, {"\t3", std::nullopt}, {"3\n", std::nullopt},
        {"-3", std::nullopt}, {"-0", std::nullopt}, {"3a", std::nullopt}, {"0x10", std::nullopt},
        {"1e3", std::nullopt}, {"3.0", std::nullopt}, {"3_000", std::nullopt},
        {"\xd9\xa3", std::nullopt},      // ARABIC-INDIC DIGIT THREE
        {"\xef\xbc\x93", std::nullopt},  // FULLWIDTH DIGIT THREE
        {"3\xd9\xa3", std::nullopt},
    };
    for (const auto& c : cases) {
        const auto got = parse_thread_count(c.text);
        check(got == c.expected, "parse_thread_count(" + show(c.text) + ") = " +
                                     (got ? std::to_string(*got) : "invalid"));
    }
    check(!parse_thread_count(nullptr), "parse_thread_count(null) is invalid");

    // Every string of up to four characters over an alphabet that mixes digits with
    // their neighbours in ASCII, signs and blanks.
    const std::string alphabet = "09+- /:a";
    std::vector<std::string> texts{""};
    for (std::size_t begin = 0, length = 0; length < 4; ++length) {
        const std::size_t end = texts.size();
        for (std::size_t i = begin; i < end; ++i)
            for (char c : alphabet) texts.push_back(texts[i] + c);
        begin = end;
    }
    int mismatches = 0;
    for (const std::string& text : texts)
        if (parse_thread_count(text.c_str()) != model_count(text) && ++mismatches <= 5)
            check(false, "parse_thread_count(" + show(text.c_str()) + ") disagrees with the model");
    check(texts.size() == 4681, "alphabet enumeration size");
}

void test_pool_size_from() {
    using pelgar::pool::pool_size_from;
    constexpr std::size_t fallback = 7;
    const struct {
        const char* num_threads;
        const char* rs_num_cpus;
        std::size_t expected;
    } cases[] = {
        {"+3", nullptr, 3}, {"+3", "5", 3}, {"+3", "x", 3}, {"3", "0", 3}, {"1", "5", 1},
        {"0", "5", fallback}, {"+0", "5", fallback}, {"0", nullptr, fallback},
        {"x", "5", 5}, {" 3", "5", 5}, {"3 ", "+5", 5}, {"", "4", 4}, {"-1", "2", 2},
        {"-1", nullptr, fallback}, {"-1", "0", fallback}, {"-1", "-2", fallback},
        {nullptr, "0", fallback}, {nullptr, nullptr, fallback}, {nullptr, "2", 2}, {nullptr, " 2", fallback},
        {"70000", nullptr, 65535}, {"65535", "1", 65535}, {"65536", nullptr, 65535}, {nullptr, "70000", 65535},
        {"18446744073709551615", nullptr, 65535},
        {"99999999999999999999", "4", 4}, {"18446744073709551616", nullptr, fallback},
    };
    for (const auto& c : cases) {
        const std::size_t got = pool_size_from(c.num_threads, c.rs_num_cpus, fallback);
        check(got == c.expected, "pool_size_from(" + show(c.num_threads) + ", " + show(c.rs_num_cpus) +
                                     ") = " + std::to_string(got) + ", expected " + std::to_string(c.expected));
    }
    check(pool_size_from(nullptr, nullptr, 100000) == 65535, "the cap applies to the default too");
    check(pelgar::pool::default_pool_size() >= 1, "default_pool_size() >= 1");
}

// Reads the real environment; called while this process has no other threads.
void test_size_from_environment() {
    const auto size_with = [](const char* num_threads, const char* rs_num_cpus) {
        if (num_threads) setenv("RAYON_NUM_THREADS", num_threads, 1); else unsetenv("RAYON_NUM_THREADS");
        if (rs_num_cpus) setenv("RAYON_RS_NUM_CPUS", rs_num_cpus, 1); else unsetenv("RAYON_RS_NUM_CPUS");
        return pelgar::pool::pool_size_from_environment();
    };
    const std::size_t fallback = pelgar::pool::default_pool_size();
    check(size_with("+3", "5") == 3, "environment: RAYON_NUM_THREADS=+3");
    check(size_with("0", "5") == fallback, "environment: RAYON_NUM_THREADS=0 skips RAYON_RS_NUM_CPUS");
    check(size_with("-3", "5") == 5, "environment: invalid RAYON_NUM_THREADS falls to RAYON_RS_NUM_CPUS");
    check(size_with(nullptr, "6") == 6, "environment: RAYON_RS_NUM_CPUS alone");
    check(size_with(nullptr, nullptr) == fallback, "environment: nothing set");
    unsetenv("RAYON_NUM_THREADS");
    unsetenv("RAYON_RS_NUM_CPUS");

    in_child("default size under a one-processor affinity mask", [] {
        cpu_set_t mask;
        CPU_ZERO(&mask);
        check(sched_getaffinity(0, sizeof mask, &mask) == 0, "sched_getaffinity");
        int first = 0;
        while (!CPU_ISSET(first, &mask)) ++first;
        CPU_ZERO(&mask);
        CPU_SET(first, &mask);
        check(sched_setaffinity(0, sizeof mask, &mask) == 0, "sched_setaffinity");
        check(pelgar::pool::default_pool_size() == 1, "default_pool_size() follows the affinity mask");
        setenv("RAYON_NUM_THREADS", "0", 1);
        setenv("RAYON_RS_NUM_CPUS", "5", 1);
        check(pelgar::pool::pool_size_from_environment() == 1, "RAYON_NUM_THREADS=0 gives the mask's size");
    });
}

// ---------------------------------------------------------------- pool start and the global pool

// Caps this process's address space a little above its current size, so that only a
// few 2 MiB worker stacks fit. Returns the previous limit.
rlimit cap_address_space() {
    rlimit old{};
    getrlimit(RLIMIT_AS, &old);
    long pages = 0;
    if (FILE* statm = std::fopen("/proc/self/statm", "r")) {
        if (std::fscanf(statm, "%ld", &pages) != 1) pages = 0;
        std::fclose(statm);
    }
    rlimit capped = old;
    capped.rlim_cur = static_cast<rlim_t>(pages) * static_cast<rlim_t>(sysconf(_SC_PAGESIZE)) + (rlim_t{24} << 20);
    check(pages > 0 && setrlimit(RLIMIT_AS, &capped) == 0, "setrlimit(RLIMIT_AS)");
    return old;
}

void test_pool_start() {
    if (!POOL_TEST_SANITIZED) {
        in_child("thread start failure", [] {
            const rlimit old = cap_address_space();
            std::string message;
            try {
                WorkerPool pool(64);
                check(false, "WorkerPool(64) started under a 24 MiB address space margin");
            } catch (const InternalFailure& e) {
                message = e.what();
            }
            setrlimit(RLIMIT_AS, &old);
            check(starts_with(message, not_initialized + ": failed to start worker thread ") &&
                      message.find(" of 64: ") != std::string::npos,
                  "start failure message: " + message);
            check(thread_count() == 1, "threads of the failed pool were joined");
            WorkerPool pool(2);
            std::atomic<int> ran{0};
            pool.run(10, [&](std::size_t) { ++ran; });
            check(ran == 10, "a pool starts and runs after an earlier start failure");
        });

        in_child("failed global pool", [] {
            setenv("RAYON_NUM_THREADS", "64", 1);
            const rlimit old = cap_address_space();
            std::string first, second;
            try {
                pelgar::pool::worker_pool();
            } catch (const InternalFailure& e) {
                first = e.what();
            }
            setrlimit(RLIMIT_AS, &old);
            // Enough room now, but creation is not attempted again.
            try {
                pelgar::pool::worker_pool();
            } catch (const InternalFailure& e) {
                second = e.what();
            }
            check(starts_with(first, not_initialized), "global start failure message: " + first);
            check(second == first, "a later call fails with the same message: " + second);
            check(thread_count() == 1, "no worker left after the failed global pool");
        });
    }

    in_child("global pool", [] {
        setenv("RAYON_NUM_THREADS", "+3", 1);
        setenv("RAYON_RS_NUM_CPUS", "5", 1);
        const std::vector<int> none;
        const std::size_t before = thread_count();
        // Even an empty batch brings the pool into existence.
        const auto empty = pelgar::pool::parallel_map<int>(std::span<const int>(none), 0, [](int v, int) { return v; });
        check(empty.empty(), "global parallel_map of no items");
        // ThreadSanitizer starts a thread of its own along with the first one created.
        const std::size_t started = thread_count() - before;
        check(started == 3 || (POOL_TEST_SANITIZED && started == 4),
              "the global pool started its 3 threads on first use, found " + std::to_string(started));
        WorkerPool& pool = pelgar::pool::worker_pool();
        check(pool.size() == 3, "global pool size from RAYON_NUM_THREADS=+3");
        setenv("RAYON_NUM_THREADS", "1", 1);
        check(&pelgar::pool::worker_pool() == &pool && pool.size() == 3, "the global pool is created once");
        std::vector<int> items(100);
        for (int i = 0; i < 100; ++i) items[i] = i;
        const auto squares =
            pelgar::pool::parallel_map<long>(std::span<const int>(items), 3L, [](int v, long k) { return k * v * v; });
        bool right = squares.size() == 100;
        for (int i = 0; right && i < 100; ++i) right = squares[i] == 3L * i * i;
        check(right, "global parallel_map results");
    });

    // Starting and stopping right away must not lose a thread or hang.
    for (int round = 0; round < 20; ++round) {
        WorkerPool pool(round % 8 + 1);
        check(pool.size() == static_cast<std::size_t>(round % 8 + 1), "pool size");
        if (round % 2) pool.run(3, [](std::size_t) {});
    }
    WorkerPool tiny(0);
    check(tiny.size() == 1, "a pool asked for no threads gets one");
}

// ---------------------------------------------------------------- parallel_map

struct Item {
    std::size_t index;
    std::uint32_t steps;
    std::uint64_t seed;
};

struct Output {
    std::uint64_t value = 0;
    std::string text;
};

std::uint64_t churn(const Item& item) {
    std::uint64_t x = item.seed;
    for (std::uint32_t k = 0; k < item.steps; ++k) {
        x = x * 6364136223846793005u + 1442695040888963407u;
        x ^= x >> 29;
    }
    return x;
}

struct Ledger {
    std::vector<std::atomic<int>> runs;
    std::vector<std::thread::id> ran_on;  // each slot written by the one worker of its item
    std::atomic<int> in_flight{0};
    explicit Ledger(std::size_t n) : runs(n), ran_on(n) {}
};

struct InFlight {
    std::atomic<int>& counter;
    explicit InFlight(std::atomic<int>& c) : counter(c) { ++counter; }
    ~InFlight() { --counter; }
};

std::vector<Item> make_items(std::mt19937_64& rng, std::size_t n) {
    std::vector<Item> items(n);
    for (std::size_t i = 0; i < n; ++i) {
        // Mostly short items with a few long ones, so that balancing matters.
        const auto steps = static_cast<std::uint32_t>(rng() % 16 == 0 ? 20000 + rng() % 20000 : rng() % 2000);
        items[i] = {i, steps, rng()};
    }
    return items;
}

std::vector<Output> map_items(WorkerPool& pool, const std::vector<Item>& items, Ledger& ledger) {
    // The context is read-only for the pool; the ledger behind it is the test's own record.
    return pelgar::pool::parallel_map<Output>(pool, std::span<const Item>(items), &ledger,
                                              [](const Item& item, Ledger* const& record) {
                                                  InFlight guard(record->in_flight);
                                                  ++record->runs[item.index];
                                                  record->ran_on[item.index] = std::this_thread::get_id();
                                                  const std::uint64_t value = churn(item);
                                                  return Output{value, std::to_string(value)};
                                              });
}

// Checks one batch; returns the worker threads it ran on.
std::set<std::thread::id> check_batch(WorkerPool& pool, const std::vector<Item>& items, const std::string& what) {
    Ledger ledger(items.size());
    const auto results = map_items(pool, items, ledger);
    std::set<std::thread::id> threads;
    bool sized = results.size() == items.size(), right = true, once = true, off_caller = true;
    for (std::size_t i = 0; sized && i < items.size(); ++i) {
        const std::uint64_t expected = churn(items[i]);
        right = right && results[i].value == expected && results[i].text == std::to_string(expected);
        once = once && ledger.runs[i] == 1;
        off_caller = off_caller && ledger.ran_on[i] != std::this_thread::get_id();
        threads.insert(ledger.ran_on[i]);
    }
    check(sized, what + ": result size");
    check(right, what + ": results in item order");
    check(once, what + ": every item ran exactly once");
    // Batches of one item stay on the caller; larger ones go to the workers only.
    check(items.size() <= 1 || off_caller, what + ": the caller ran no item");
    check(items.size() != 1 || ledger.ran_on[0] == std::this_thread::get_id(), what + ": single item on the caller");
    return threads;
}

void test_batches(std::size_t size, std::mt19937_64& rng) {
    WorkerPool pool(size);
    const std::string name = "pool of " + std::to_string(size);
    check(pool.size() == size, name + ": size");
    check_batch(pool, {}, name + ", 0 items");
    check_batch(pool, make_items(rng, 1), name + ", 1 item");
    int calls = 0;
    pool.run(0, [&](std::size_t) { ++calls; });
    check(calls == 0, name + ": run(0) calls nothing");

    std::set<std::thread::id> workers;
    for (int batch = 0; batch < 150; ++batch) {
        const std::size_t n = rng() % 3 == 0 ? 2 + rng() % 6 : 2 + rng() % 100;
        const auto used = check_batch(pool, make_items(rng, n), name + ", batch " + std::to_string(batch));
        workers.insert(used.begin(), used.end());
    }
    check(workers.size() <= size, name + ": no more worker threads than the pool has");
    check(size != 1 || workers.size() == 1, name + ": one thread ran everything");
}

void test_failures(std::size_t size, std::mt19937_64& rng) {
    WorkerPool pool(size);
    const std::string name = "pool of " + std::to_string(size);
    for (int round = 0; round < 12; ++round) {
        const std::size_t n = 8 + rng() % 40;
        std::vector<std::size_t> failing{rng() % n};
        if (round % 3 == 1) failing.push_back(rng() % n);
        if (round % 3 == 2) failing.push_back(0);
        const bool internal = round % 2 == 0;
        Ledger ledger(n);
        std::string caught;
        bool caught_internal = false;
        try {
            pool.run(n, [&](std::size_t i) {
                InFlight guard(ledger.in_flight);
                ++ledger.runs[i];
                if (std::find(failing.begin(), failing.end(), i) != failing.end()) {
                    const std::string message = "item " + std::to_string(i) + " failed";
                    if (internal) throw InternalFailure(message);
                    throw std::runtime_error(message);
                }
                // Others are still busy when an item fails.
                std::this_thread::sleep_for(std::chrono::microseconds(300));
            });
            check(false, name + ": a failing batch returned normally");
        } catch (const InternalFailure& e) {
            caught = e.what();
            caught_internal = true;
        } catch (const std::runtime_error& e) {
            caught = e.what();
        }
        const std::string what = name + ", failure round " + std::to_string(round);
        check(ledger.in_flight == 0, what + ": no item still running when run returns");
        check(caught_internal == internal, what + ": exception type kept");
        bool known = false;
        for (std::size_t i : failing) known = known || caught == "item " + std::to_string(i) + " failed";
        check(known, what + ": rethrown message " + caught);
        bool at_most_once = true;
        for (std::size_t i = 0; i < n; ++i) at_most_once = at_most_once && ledger.runs[i] <= 1;
        check(at_most_once, what + ": no item ran twice");
        check_batch(pool, make_items(rng, 30), what + ": clean batch afterwards");
    }

    // Every item failing still gives one exception.
    try {
        pool.run(64, [](std::size_t i) { throw std::runtime_error(std::to_string(i)); });
        check(false, name + ": all-failing batch returned normally");
    } catch (const std::runtime_error&) {
    }
    check_batch(pool, make_items(rng, 64), name + ": clean batch after all items failed");
}

void test_single_worker_stops_at_failure() {
    WorkerPool pool(1);
    std::vector<int> ran(10, 0);
    try {
        pool.run(10, [&](std::size_t i) {
            ++ran[i];
            if (i == 3) throw std::runtime_error("three");
        });
    } catch (const std::runtime_error&) {
    }
    check(ran == std::vector<int>({1, 1, 1, 1, 0, 0, 0, 0, 0, 0}), "no item is handed out after a failure");
}

void test_failure_stops_other_workers() {
    WorkerPool pool(2);
    constexpr std::size_t n = 64;
    std::atomic<bool> thrown{false};
    std::atomic<std::size_t> ran{0};
    try {
        pool.run(n, [&](std::size_t i) {
            ++ran;
            if (i == 0) {
                // Fail only once the other worker is inside the range too.
                while (ran < 2) std::this_thread::yield();
                thrown = true;
                throw std::runtime_error("first");
            }
            while (!thrown) std::this_thread::yield();
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        });
    } catch (const std::runtime_error&) {
    }
    check(ran <= n / 2, "the other worker stopped taking items after a failure, ran " + std::to_string(ran.load()));
}

// Item 0 waits until every other item is done, which only happens if the other
// worker takes up everything else; a fixed split of the range would stall here.
void test_slow_item_does_not_hold_up_the_rest() {
    WorkerPool pool(2);
    constexpr std::size_t n = 40;
    std::atomic<std::size_t> done{0};
    std::vector<std::thread::id> ran_on(n);
    bool waited_out = false;
    pool.run(n, [&](std::size_t i) {
        ran_on[i] = std::this_thread::get_id();
        if (i == 0) {
            const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(20);
            while (done < n - 1 && std::chrono::steady_clock::now() < give_up)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
            waited_out = done == n - 1;
        } else {
            ++done;
        }
    });
    check(waited_out, "the other items were taken up while item 0 was busy");
    check(std::count(ran_on.begin(), ran_on.end(), ran_on[0]) == 1, "the busy worker took no other item");
}

void test_work_is_spread() {
    WorkerPool pool(2);
    std::vector<std::thread::id> ran_on(50);
    pool.run(50, [&](std::size_t i) {
        ran_on[i] = std::this_thread::get_id();
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    });
    check(std::set<std::thread::id>(ran_on.begin(), ran_on.end()).size() == 2, "both workers took items");
}

void test_concurrent_callers(std::mt19937_64& rng) {
    WorkerPool pool(3);
    std::vector<std::vector<Item>> batches[2];
    for (auto& list : batches)
        for (int b = 0; b < 30; ++b) list.push_back(make_items(rng, 2 + rng() % 40));
    const auto caller = [&](int which) {
        for (std::size_t b = 0; b < batches[which].size(); ++b)
            check_batch(pool, batches[which][b], "caller " + std::to_string(which) + ", batch " + std::to_string(b));
    };
    std::thread first(caller, 0), second(caller, 1);
    first.join();
    second.join();
}


// ---------------------------------------------------------------- stopping a run

// Sleeps in short steps, polling the worker's current token, for at most `limit`.
void busy_item(std::chrono::milliseconds limit) {
    StopPoll poll(1);
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end) {
        poll();
        std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
}

// The tick stops a run of many short items: no item after the stop, none running when
// run() throws, each at most once, and the pool takes the next run as usual.
void test_stop_by_tick(std::size_t size, std::mt19937_64& rng) {
    WorkerPool pool(size);
    const std::string name = "pool of " + std::to_string(size);
    for (int round = 0; round < 6; ++round) {
        constexpr std::size_t n = 4000;
        Ledger ledger(n);
        std::vector<std::size_t> seen;
        std::atomic<bool> told{false};
        std::atomic<int> after_stop{0};
        const std::size_t stop_at = round % 2 == 0 ? 1 : 3;
        bool stopped = false;
        try {
            pool.run(
                n,
                [&](std::size_t i) {
                    InFlight guard(ledger.in_flight);
                    // An item that starts well after the stop was asked for was handed out late.
                    if (told) ++after_stop;
                    ++ledger.runs[i];
                    std::this_thread::sleep_for(std::chrono::microseconds(500));
                },
                [&](std::size_t finished) {
                    seen.push_back(finished);
                    if (seen.size() < stop_at) return true;
                    told = true;
                    return false;
                });
        } catch (const Stopped&) {
            stopped = true;
        }
        const std::string what = name + ", stop round " + std::to_string(round);
        check(stopped, what + ": run threw Stopped");
        check(ledger.in_flight == 0, what + ": no item running when run returns");
        check(seen.size() == stop_at, what + ": the tick is not asked again after a stop");
        check(std::is_sorted(seen.begin(), seen.end()) && (seen.empty() || seen.back() < n),
              what + ": finished counts grow and stay below n");
        // Each worker may have claimed one item just as the flag was set.
        check(after_stop <= static_cast<int>(size), what + ": items started after the stop: " +
                                                        std::to_string(after_stop.load()));
        std::size_t ran = 0;
        bool at_most_once = true;
        for (std::size_t i = 0; i < n; ++i) ran += ledger.runs[i], at_most_once = at_most_once && ledger.runs[i] <= 1;
        check(at_most_once && ran < n, what + ": items ran at most once and not all of them");
        check_batch(pool, make_items(rng, 40), what + ": clean batch afterwards");
    }
}

// Items that would run for a minute see the stop through their worker's token.
void test_stop_reaches_long_items(std::size_t size) {
    WorkerPool pool(size);
    const auto started = std::chrono::steady_clock::now();
    bool stopped = false;
    try {
        pool.run(size * 2, [](std::size_t) { busy_item(std::chrono::seconds(60)); },
                 [](std::size_t) { return false; });
    } catch (const Stopped&) {
        stopped = true;
    }
    const auto took = std::chrono::steady_clock::now() - started;
    check(stopped, "long items: Stopped");
    check(took < std::chrono::seconds(10), "long items left soon after the stop");
    std::atomic<std::size_t> ran{0};
    pool.run(size * 2, [&](std::size_t) {
        busy_item(std::chrono::milliseconds(1));
        ++ran;
    });
    check(ran == size * 2, "pool usable after stopping long items");
}

// A tick that throws stops the run the same way, and its exception comes out of run().
void test_tick_exception() {
    WorkerPool pool(2);
    std::atomic<int> running{0};
    std::string caught;
    try {
        pool.run(1000, [&](std::size_t) {
            InFlight guard(running);
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }, [](std::size_t) -> bool { throw std::runtime_error("from the tick"); });
    } catch (const std::runtime_error& e) {
        caught = e.what();
    }
    check(caught == "from the tick", "the tick's exception is rethrown: " + caught);
    check(running == 0, "no item running after the tick threw");
}

// A stop asked while an item fails is reported as the stop: whoever asked for it has a
// reason of its own waiting to be passed on.
void test_stop_wins_over_failure() {
    WorkerPool pool(2);
    std::atomic<bool> ticked{false};
    bool stopped = false;
    try {
        pool.run(2, [&](std::size_t i) {
            if (i != 0) return;
            while (!ticked) std::this_thread::sleep_for(std::chrono::milliseconds(1));
            throw InternalFailure("item failed");
        }, [&](std::size_t) {
            ticked = true;
            return false;
        });
    } catch (const Stopped&) {
        stopped = true;
    } catch (const InternalFailure&) {
    }
    check(stopped, "a stop and a failure in one run come out as Stopped");
}

// Without a tick, run() asks the caller's current token, whose hook runs on the caller.
void test_caller_token() {
    WorkerPool pool(3);
    struct Hook {
        std::thread::id caller = std::this_thread::get_id();
        std::atomic<int> calls{0};
        std::atomic<bool> wrong_thread{false};
    } hook;
    StopToken token(
        [](void* context) {
            auto* h = static_cast<Hook*>(context);
            if (std::this_thread::get_id() != h->caller) h->wrong_thread = true;
            return ++h->calls >= 3;
        },
        &hook);
    bool stopped = false;
    {
        const StopScope scope(&token);
        try {
            pool.run(64, [](std::size_t) { busy_item(std::chrono::seconds(30)); });
        } catch (const Stopped&) {
            stopped = true;
        }
    }
    check(stopped && hook.calls == 3 && token.stop_requested(), "the caller's token stopped the run");
    check(!hook.wrong_thread, "the hook ran only on the caller's thread");
    check(pelgar::current_stop_token() == nullptr, "the scope restored no token");
    std::atomic<int> ran{0};
    pool.run(10, [&](std::size_t) { ++ran; });
    check(ran == 10, "a run without a token after a stopped one");
}

// A tick that never stops sees the count of finished items, which ends at n.
void test_tick_counts() {
    WorkerPool pool(2);
    std::vector<std::size_t> seen;
    pool.run(200, [](std::size_t) { std::this_thread::sleep_for(std::chrono::microseconds(500)); },
             [&](std::size_t finished) {
                 seen.push_back(finished);
                 return true;
             });
    check(!seen.empty(), "the tick ran during a run of ~50 ms");
    check(std::is_sorted(seen.begin(), seen.end()) && seen.back() <= 200, "finished counts grow up to n");
}

// StopPoll throws only once the token says stop; check() asks the hook at most every
// hook_interval, check_now() at once.
void test_stop_poll() {
    int calls = 0;
    StopToken token([](void* c) { return ++*static_cast<int*>(c) >= 2; }, &calls);
    const StopScope scope(&token);
    const auto started = std::chrono::steady_clock::now();
    StopPoll poll(10);
    bool thrown = false;
    try {
        while (std::chrono::steady_clock::now() - started < std::chrono::seconds(5)) poll(3);
    } catch (const Stopped&) {
        thrown = true;
    }
    const auto took = std::chrono::steady_clock::now() - started;
    // The first slow path asks the hook (no), the next one due asks again (yes).
    check(thrown && calls == 2, "the poll stopped at the hook's second answer, calls " + std::to_string(calls));
    check(took >= StopToken::hook_interval, "the hook's answers are hook_interval apart");

    int now_calls = 0;
    StopToken eager([](void* c) { return ++*static_cast<int*>(c) >= 2; }, &now_calls);
    check(!eager.check_now() && eager.check_now() && now_calls == 2, "check_now asks the hook every time");
    check(eager.check_now() && now_calls == 2, "a stopped token asks no more");

    StopToken quiet;
    const StopScope inner(&quiet);
    StopPoll idle(1);
    for (int i = 0; i < 1000; ++i) idle();
    quiet.request_stop();
    thrown = false;
    try {
        idle();
    } catch (const Stopped&) {
        thrown = true;
    }
    check(thrown, "a requested stop is seen at the next slow path");
    {
        const StopScope none(nullptr);
        StopPoll unwatched(1);
        for (int i = 0; i < 1000; ++i) unwatched();  // no token: never throws
    }
    check(pelgar::current_stop_token() == &quiet, "scopes nest and restore");
}

// ---------------------------------------------------------------- fork

// A child forked after the global pool exists makes its own, sized as the environment
// reads then; the parent's pool goes on as before. Runs in a child of the test, which
// only then starts threads.
void test_fork_makes_a_new_pool() {
    in_child("fork after the global pool exists", [] {
        setenv("RAYON_NUM_THREADS", "2", 1);
        WorkerPool& parent_pool = pelgar::pool::worker_pool();
        std::mt19937_64 rng(7);
        check_batch(parent_pool, make_items(rng, 30), "parent pool before fork");
        setenv("RAYON_NUM_THREADS", "3", 1);
        in_child("forked child", [] {
            check(thread_count() == 1, "the child has only the forking thread");
            WorkerPool& pool = pelgar::pool::worker_pool();
            check(pool.size() == 3, "the child's pool is sized from the environment as it reads now");
            check(thread_count() == 4, "the child started its own workers");
            std::mt19937_64 child_rng(8);
            check_batch(pool, make_items(child_rng, 50), "child pool");
            in_child("grandchild", [] {
                std::mt19937_64 grand_rng(9);
                check_batch(pelgar::pool::worker_pool(), make_items(grand_rng, 50), "grandchild pool");
            });
        });
        check(&pelgar::pool::worker_pool() == &parent_pool && parent_pool.size() == 2, "the parent keeps its pool");
        check(thread_count() == 3, "the parent's workers are unchanged");
        check_batch(parent_pool, make_items(rng, 30), "parent pool after fork");
    });
}

void test_fork_after_failed_pool() {
    in_child("fork after the global pool failed", [] {
        setenv("RAYON_NUM_THREADS", "64", 1);
        const rlimit old = cap_address_space();
        bool failed = false;
        try {
            pelgar::pool::worker_pool();
        } catch (const InternalFailure&) {
            failed = true;
        }
        setrlimit(RLIMIT_AS, &old);
        check(failed, "the capped creation failed");
        setenv("RAYON_NUM_THREADS", "2", 1);
        in_child("child of a failed pool", [] {
            std::mt19937_64 rng(10);
            check_batch(pelgar::pool::worker_pool(), make_items(rng, 20), "the child tries once itself");
        });
        bool still_failed = false;
        try {
            pelgar::pool::worker_pool();
        } catch (const InternalFailure&) {
            still_failed = true;
        }
        check(still_failed, "the parent does not try again");
    });
}

}  // namespace

int main() {
    // Environment and fork-based tests first, while this process has a single thread.
    test_parse_thread_count();
    test_pool_size_from();
    test_size_from_environment();
    test_pool_start();
    // ThreadSanitizer does not support a fork once threads exist.
    if (!POOL_TEST_SANITIZED) {
        test_fork_makes_a_new_pool();
        test_fork_after_failed_pool();
    }

    std::mt19937_64 rng(20240611);
    for (std::size_t size : {1, 2, 3, 8}) {
        test_batches(size, rng);
        test_failures(size, rng);
    }
    test_single_worker_stops_at_failure();
    test_failure_stops_other_workers();
    test_slow_item_does_not_hold_up_the_rest();
    test_work_is_spread();
    test_concurrent_callers(rng);
    for (std::size_t size : {1, 2, 3, 8}) {
        test_stop_by_tick(size, rng);
        test_stop_reaches_long_items(size);
    }
    test_tick_exception();
    test_stop_wins_over_failure();
    test_caller_token();
    test_tick_counts();
    test_stop_poll();

    if (failures != 0) {
        std::fprintf(stderr, "pool_test: %d check(s) failed\n", failures.load());
        return 1;
    }
    std::puts("pool_test: all checks passed");
    return 0;
}
