#include "join_python/arguments.hpp"

#include <algorithm>
#include <string>
#include <vector>

#include "join_python/released_run.hpp"
#include "python/python_error.hpp"
#include "worker_pool/pool_size.hpp"

namespace pelgar::join_python {

using python::PythonError;

join::Scorer scorer_argument(int code) {
    if (code < 0 || code > 2) throw PythonError::with_message(PyExc_ValueError, "unknown scorer code");
    return static_cast<join::Scorer>(code);
}

std::size_t workers_argument(Py_ssize_t workers) {
    if (workers <= 0) return pool::default_pool_size();
    return std::min(static_cast<std::size_t>(workers), pool::max_pool_size);
}

// Every text's key, made on the workers with the lock released.
join::PreparedTexts prepare_all(const TextsWithGaps& input, join::Scorer scorer, std::size_t workers) {
    const std::size_t count = input.texts.size();
    std::vector<std::string> keys(count);
    run_released(workers, count, [&](std::size_t i) {
        if (!input.missing[i]) keys[i] = join::prepare_key(input.texts[i], scorer);
    }, nullptr);
    join::PreparedTexts prepared;
    prepared.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        if (input.missing[i]) {
            prepared.add_missing();
        } else {
            prepared.add_key(keys[i]);
            std::string().swap(keys[i]);
        }
    }
    return prepared;
}

}  // namespace pelgar::join_python
