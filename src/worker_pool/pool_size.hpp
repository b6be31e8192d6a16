#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

namespace pelgar::pool {

inline constexpr std::size_t max_pool_size = 65535;

// An optional '+' then one or more ASCII digits, nothing else, fitting in 64 bits.
std::optional<std::uint64_t> parse_thread_count(const char* text);

// The pool size rule over the two variables' values (null when unset) and the default.
std::size_t pool_size_from(const char* num_threads, const char* rs_num_cpus, std::size_t default_size);

// Logical processors available to the process (its CPU affinity mask on Linux); at least 1.
std::size_t default_pool_size();

// pool_size_from() applied to the environment and default_pool_size().
std::size_t pool_size_from_environment();

}  // namespace pelgar::pool
