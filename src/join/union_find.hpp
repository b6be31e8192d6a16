#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace pelgar::join {

// A lock-free union-find over 0..n-1 that several threads unite at once; roots only ever
// move to smaller numbers, so a root is the smallest number of its set once all is done.
class UnionFind {
public:
    explicit UnionFind(std::size_t n);

    std::uint32_t root(std::uint32_t x) const;
    void unite(std::uint32_t a, std::uint32_t b);

private:
    std::unique_ptr<std::atomic<std::uint32_t>[]> parent_;
};

}  // namespace pelgar::join
