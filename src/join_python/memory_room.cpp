#include "join_python/memory_room.hpp"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <optional>
#include <string>

#if defined(__unix__) || defined(__APPLE__)
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace pelgar::join_python {

namespace {

constexpr std::size_t kUnknown = std::numeric_limits<std::size_t>::max();

std::optional<std::string> read_file(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (!file) return std::nullopt;
    std::string text;
    char buffer[4096];
    for (std::size_t got; (got = std::fread(buffer, 1, sizeof buffer, file)) > 0;) text.append(buffer, got);
    std::fclose(file);
    return text;
}

// A number of bytes at the start of the file ("max" and the like read as no limit).
std::size_t bytes_in(const std::string& path) {
    const auto text = read_file(path);
    if (!text || text->empty() || text->front() < '0' || text->front() > '9') return kUnknown;
    return static_cast<std::size_t>(std::strtoull(text->c_str(), nullptr, 10));
}

std::size_t available_physical() {
    const auto text = read_file("/proc/meminfo");
    if (!text) return kUnknown;
    const auto at = text->find("MemAvailable:");
    if (at == std::string::npos) return kUnknown;
    return static_cast<std::size_t>(std::strtoull(text->c_str() + at + 13, nullptr, 10)) * 1024;
}

// Room under the memory limit of this process's cgroup (v2, else v1).
std::size_t cgroup_room() {
    std::string path = "/sys/fs/cgroup";
    if (const auto self = read_file("/proc/self/cgroup")) {
        const auto at = self->find("0::");
        if (at != std::string::npos) path += self->substr(at + 3, self->find('\n', at) - at - 3);
    }
    std::size_t limit = bytes_in(path + "/memory.max"), used = bytes_in(path + "/memory.current");
    if (limit == kUnknown) {
        limit = bytes_in("/sys/fs/cgroup/memory/memory.limit_in_bytes");
        used = bytes_in("/sys/fs/cgroup/memory/memory.usage_in_bytes");
    }
    if (limit == kUnknown || used == kUnknown) return kUnknown;
    return limit > used ? limit - used : 0;
}

std::size_t address_space_room() {
#if defined(__unix__) || defined(__APPLE__)
    rlimit limit{};
    if (getrlimit(RLIMIT_AS, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return kUnknown;
    const auto statm = read_file("/proc/self/statm");
    if (!statm) return kUnknown;
    const std::size_t used = static_cast<std::size_t>(std::strtoull(statm->c_str(), nullptr, 10)) *
                             static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return limit.rlim_cur > used ? static_cast<std::size_t>(limit.rlim_cur) - used : 0;
#else
    return kUnknown;
#endif
}

}  // namespace

std::size_t memory_room() { return std::min({available_physical(), cgroup_room(), address_space_room()}); }

}  // namespace pelgar::join_python
