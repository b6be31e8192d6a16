#pragma once

#include <Python.h>

#include <cstddef>

#include "join/prepared_texts.hpp"
#include "join_python/text_input.hpp"

// Arguments the native entry points share, as the core takes them.
namespace pelgar::join_python {

join::Scorer scorer_argument(int code);

// 0 or less: one worker per usable processor.
std::size_t workers_argument(Py_ssize_t workers);

// Every text's key, made on the workers with the lock released.
join::PreparedTexts prepare_all(const TextsWithGaps& input, join::Scorer scorer, std::size_t workers);

}  // namespace pelgar::join_python
