#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "matching/match.hpp"
#include "python/py_ref.hpp"

namespace pelgar::python {

// New Python objects for the logic's results. If the interpreter cannot make one, its
// error is printed and the call fails internally ("Python API call failed").

PyObject* int_result(std::uint64_t value);
PyObject* float_result(double value);

// (candidate's text as passed, score), or None when absent or below the threshold. The
// candidate is the str object that was passed for the match.
PyObject* match_result(const std::optional<matching::Match>& match, PyObject* candidate, double threshold);

// A list of the matches that reach the threshold, from matches sorted by descending score;
// candidates holds the str objects passed, by index.
PyObject* match_list_result(const std::vector<matching::Match>& matches, std::span<const Ref> candidates,
                            double threshold);

// One item per answer: a tuple where it reaches the threshold, else None.
PyObject* answer_list_result(const std::vector<std::optional<matching::Match>>& answers,
                             std::span<const Ref> candidates, double threshold);

}  // namespace pelgar::python
