#pragma once

#include <Python.h>

#include <cstddef>
#include <string>
#include <vector>

#include "join/key_groups.hpp"
#include "join/self_join.hpp"
#include "matching/match.hpp"
#include "python/python_error.hpp"

// Results as Python lists, what they cost, and the error for one too large to build.
namespace pelgar::join_python {

// What top_k answers with: lists of (position, score), columns, or columns with a row for
// each query that found nothing.
enum ResultForm : int { kLists = 0, kColumns = 1, kLeftJoinColumns = 2 };

// What one entry of a result costs as Python objects (a tuple, its int and float, a list
// slot, allocator overhead) and as the native entry it is made from.
constexpr std::size_t kBytesPerPair = 200;
constexpr std::size_t kBytesPerMatch = 160;
// The same for a row of result columns: three 8-byte values, twice while the columns grow.
constexpr std::size_t kBytesPerColumnRow = 48;

PyObject* new_int(std::size_t value);

// [(first, second, score), ...] in the given order.
PyObject* pair_list(const std::vector<join::Pair>& pairs);

// Per row, its prepared key, or None for a missing row.
PyObject* key_list(const join::KeyGroups& keys);

// top_k's answers in the given form; the lists are emptied as they are converted.
PyObject* top_k_answers(std::vector<std::vector<matching::Match>>& answers, int form);

// The result was refused before it was built: how much was found, and what to do instead.
python::PythonError memory_error(const std::string& what, std::size_t found, const std::string& instead);

}  // namespace pelgar::join_python
