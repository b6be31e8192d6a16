#pragma once

#include <cstddef>

namespace pelgar::join_python {

// About how many more bytes this process can allocate: the least of the physical memory
// still available, the room under its cgroup's memory limit and the room under its
// address-space limit (RLIMIT_AS); SIZE_MAX where none of them can be read.
std::size_t memory_room();

}  // namespace pelgar::join_python
