#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "worker_pool/worker_pool.hpp"

namespace pelgar::pool {

// result[i] = op(items[i], context) for every item, in item order. Batches of zero or one
// item run on the calling thread; larger ones on the pool while the caller waits, asking
// `tick` (see WorkerPool::run) every tick interval; a stop throws Stopped, no results.
template <class Result, class Item, class Context, class Op>
std::vector<Result> parallel_map(WorkerPool& pool, std::span<const Item> items, const Context& context, Op op,
                                 const Tick& tick = {}) {
    std::vector<Result> results(items.size());
    if (items.size() <= 1) {
        if (!items.empty()) results[0] = op(items[0], context);
        return results;
    }
    pool.run(items.size(), [&](std::size_t i) { results[i] = op(items[i], context); }, tick);
    return results;
}

template <class Result, class Item, class Context, class Op>
std::vector<Result> parallel_map(std::span<const Item> items, const Context& context, Op op, const Tick& tick = {}) {
    return parallel_map<Result>(worker_pool(), items, context, op, tick);
}

}  // namespace pelgar::pool
