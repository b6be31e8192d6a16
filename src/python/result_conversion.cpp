#include "python/result_conversion.hpp"

#include <algorithm>
#include <span>

#include "python/py_ref.hpp"
#include "python/python_error.hpp"

namespace pelgar::python {

namespace {

PyObject* made(PyObject* object) {
    if (!object) fail_python_api_call();
    return object;
}

// An exact str with the candidate's text: the object itself, or a copy of a subclass's value.
PyObject* match_tuple(PyObject* candidate, double score) {
    Ref str(made(PyUnicode_FromObject(candidate)));
    Ref number(made(PyFloat_FromDouble(score)));
    PyObject* tuple = made(PyTuple_New(2));
    PyTuple_SetItem(tuple, 0, str.release());
    PyTuple_SetItem(tuple, 1, number.release());
    return tuple;
}

// A new list from items already chosen, each turned into an object by make.
template <class Items, class Make>
PyObject* list_of(const Items& items, Make&& make) {
    Ref list(made(PyList_New(static_cast<Py_ssize_t>(items.size()))));
    Py_ssize_t index = 0;
    for (const auto& item : items) PyList_SetItem(list.get(), index++, make(item));
    return list.release();
}

}  // namespace

PyObject* int_result(std::uint64_t value) { return made(PyLong_FromUnsignedLongLong(value)); }

PyObject* float_result(double value) { return made(PyFloat_FromDouble(value)); }

PyObject* match_result(const std::optional<matching::Match>& match, PyObject* candidate, double threshold) {
    if (match && matching::reaches(*match, threshold)) return match_tuple(candidate, match->score);
    Py_INCREF(Py_None);
    return Py_None;
}

PyObject* match_list_result(const std::vector<matching::Match>& matches, std::span<const Ref> candidates,
                            double threshold) {
    // By descending score, the matches that reach the threshold come first: no copy of them.
    const auto end = std::find_if(matches.begin(), matches.end(),
                                  [&](const matching::Match& match) { return !matching::reaches(match, threshold); });
    return list_of(std::span<const matching::Match>(matches.begin(), end), [&](const matching::Match& match) {
        return match_tuple(candidates[match.index].get(), match.score);
    });
}

PyObject* answer_list_result(const std::vector<std::optional<matching::Match>>& answers,
                             std::span<const Ref> candidates, double threshold) {
    return list_of(answers, [&](const std::optional<matching::Match>& answer) {
        return match_result(answer, answer ? candidates[answer->index].get() : nullptr, threshold);
    });
}

}  // namespace pelgar::python
