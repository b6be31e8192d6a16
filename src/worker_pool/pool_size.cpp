#include "worker_pool/pool_size.hpp"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <limits>
#include <thread>

#include <sched.h>

namespace pelgar::pool {

std::optional<std::uint64_t> parse_thread_count(const char* text) {
    if (text == nullptr) return std::nullopt;
    if (*text == '+') ++text;
    if (*text == '\0') return std::nullopt;
    constexpr std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
    std::uint64_t value = 0;
    for (; *text != '\0'; ++text) {
        // Byte comparison, so digits of other scripts (and any UTF-8 byte) are refused.
        if (*text < '0' || *text > '9') return std::nullopt;
        const auto digit = static_cast<std::uint64_t>(*text - '0');
        if (value > (max - digit) / 10) return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

std::size_t pool_size_from(const char* num_threads, const char* rs_num_cpus, std::size_t default_size) {
    std::uint64_t size = default_size;
    if (const auto n = parse_thread_count(num_threads)) {
        // An explicit 0 asks for the default and leaves the second variable unread.
        if (*n > 0) size = *n;
    } else if (const auto cpus = parse_thread_count(rs_num_cpus); cpus && *cpus > 0) {
        size = *cpus;
    }
    return static_cast<std::size_t>(std::clamp<std::uint64_t>(size, 1, max_pool_size));
}

std::size_t default_pool_size() {
    // Grow the mask until the kernel accepts its size; machines with more than
    // CPU_SETSIZE processors need a dynamically sized set.
    for (int cpus = CPU_SETSIZE; cpus <= (1 << 20); cpus *= 2) {
        cpu_set_t* set = CPU_ALLOC(cpus);
        if (set == nullptr) break;
        const std::size_t bytes = CPU_ALLOC_SIZE(cpus);
        CPU_ZERO_S(bytes, set);
        const bool got = sched_getaffinity(0, bytes, set) == 0;
        const int error = errno;
        if (got) {
            const int count = CPU_COUNT_S(bytes, set);
            CPU_FREE(set);
            if (count > 0) return std::min<std::size_t>(static_cast<std::size_t>(count), max_pool_size);
            break;
        }
        CPU_FREE(set);
        if (error != EINVAL) break;
    }
    const unsigned reported = std::thread::hardware_concurrency();
    return std::clamp<std::size_t>(reported, 1, max_pool_size);
}

std::size_t pool_size_from_environment() {
    return pool_size_from(std::getenv("RAYON_NUM_THREADS"), std::getenv("RAYON_RS_NUM_CPUS"), default_pool_size());
}

}  // namespace pelgar::pool
